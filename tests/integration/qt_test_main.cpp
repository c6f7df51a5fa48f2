#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    const int rc = RUN_ALL_TESTS();
    // Qt hands some of its objects to deleteLater; let them go before the leak check.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return rc;
}
