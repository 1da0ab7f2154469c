#include "host/control/camera_tree.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <mutex>

namespace Vorn::Zephra::Net::Communication {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

std::mutex& RegistryMutex() {
    static std::mutex m;
    return m;
}

std::map<std::string, std::shared_ptr<CameraTree>>& Trees() {
    static std::map<std::string, std::shared_ptr<CameraTree>> trees;
    return trees;
}

}  // namespace

std::string ToText(const RTreeValue& value) {
    struct {
        std::string operator()(bool v) const { return v ? "true" : "false"; }
        std::string operator()(std::int32_t v) const { return std::to_string(v); }
        std::string operator()(double v) const {
            char buf[64];
            auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v);
            return std::string(buf, end);
        }
        std::string operator()(const std::string& v) const { return v; }
    } visitor;
    return std::visit(visitor, value);
}

void CameraTreeRegistry::Register(const std::string& host, std::shared_ptr<CameraTree> tree) {
    std::lock_guard lock(RegistryMutex());
    Trees()[Lower(host)] = std::move(tree);
}

void CameraTreeRegistry::Unregister(const std::string& host) {
    std::lock_guard lock(RegistryMutex());
    Trees().erase(Lower(host));
}

std::shared_ptr<CameraTree> CameraTreeRegistry::Find(const std::string& host) {
    std::lock_guard lock(RegistryMutex());
    auto it = Trees().find(Lower(host));
    return it == Trees().end() ? nullptr : it->second;
}

}  // namespace Vorn::Zephra::Net::Communication
