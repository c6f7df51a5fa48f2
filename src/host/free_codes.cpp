#include "host/free_codes.h"

#include <string_view>

namespace varnel::host {

std::vector<int> defaultFreeCodeOrder() {
    std::vector<int> order;
    for (int c = 'Q'; c <= '~'; ++c) order.push_back(c);
    for (char c : std::string_view("#$%&*+-./:;<=>?@")) order.push_back(c);
    return order;
}

std::int32_t nextFreeCode(const std::vector<int>& order, const DeviceTable& devices) {
    for (int c : order) {
        if (c < 1 || c > 255 || (c >= 'A' && c <= 'P')) continue;
        if (!devices.houseCodeUsed(static_cast<char>(c))) return c;
    }
    return -1;
}

}  // namespace varnel::host
