#include "platform/qt/qt_socket_watcher.h"

#include <QSocketNotifier>

namespace varnel {

namespace {

class QtSocketWatch final : public SocketWatch {
public:
    explicit QtSocketWatch(int fd)
        : read_(new QSocketNotifier(fd, QSocketNotifier::Read)),
          write_(new QSocketNotifier(fd, QSocketNotifier::Write)) {
        write_->setEnabled(false);
        QObject::connect(read_, &QSocketNotifier::activated, read_, [this, depth = depth_] {
            auto fn = onReadable;
            run(*depth, fn);
        });
        QObject::connect(write_, &QSocketNotifier::activated, write_, [this, depth = depth_] {
            auto fn = onWritable;
            run(*depth, fn);
        });
    }
    // The watch may go from inside its own handler (the client closed its socket): the
    // notifiers are then switched off at once and deleted when the loop is back.
    ~QtSocketWatch() override {
        for (QSocketNotifier* n : {read_, write_}) {
            n->setEnabled(false);
            if (*depth_ > 0)
                n->deleteLater();
            else
                delete n;
        }
    }
    QtSocketWatch(const QtSocketWatch&) = delete;
    QtSocketWatch& operator=(const QtSocketWatch&) = delete;
    void setReadEnabled(bool on) override { read_->setEnabled(on); }
    void setWriteEnabled(bool on) override { write_->setEnabled(on); }

private:
    // Touches nothing of the watch after the handler: it may be gone by then.
    static void run(int& depth, const std::function<void()>& fn) {
        if (!fn) return;
        ++depth;
        fn();
        --depth;
    }

    std::shared_ptr<int> depth_ = std::make_shared<int>(0);
    QSocketNotifier* read_;
    QSocketNotifier* write_;
};

}  // namespace

std::unique_ptr<SocketWatch> QtSocketWatcher::watch(int fd) { return std::make_unique<QtSocketWatch>(fd); }

}  // namespace varnel
