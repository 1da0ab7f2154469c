#pragma once
// What the control channel needs of a camera's control side: its resource tree of named,
// typed nodes and the login it accepts. Cameras register their tree under their host name
// (matched ignoring case), as they register their video side with the platform's devices, so
// the channel knows no camera's code. All members are safe to call from any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace Vorn::Zephra::Net::Communication {

using RTreeValue = std::variant<bool, std::int32_t, double, std::string>;
// A value as the tree's text form writes it ("true", "12", "0.5", the text itself).
std::string ToText(const RTreeValue& value);

class CameraTree {
  public:
    virtual ~CameraTree() = default;

    // Node reads and writes throw std::out_of_range for an unknown node,
    // std::invalid_argument for a value of the wrong kind, std::logic_error for a node that
    // cannot be written and std::runtime_error when the camera fails; the channel turns them
    // into its own errors.
    virtual bool CheckLogin(const std::string& user, const std::string& password) const = 0;
    virtual RTreeValue Get(const std::string& node) const = 0;
    virtual void Set(const std::string& node, const RTreeValue& value) = 0;
    // The text converted to the node's own kind.
    virtual void SetFromText(const std::string& node, const std::string& text) = 0;
    virtual void Nuc() = 0;  // starts a non-uniformity correction
    virtual void UseTulaRanges() = 0;
    virtual std::vector<std::pair<double, double>> Ranges() const = 0;
    virtual bool Online() const = 0;  // false once the camera stopped answering
};

class CameraTreeRegistry {
  public:
    static void Register(const std::string& host, std::shared_ptr<CameraTree> tree);
    static void Unregister(const std::string& host);
    static std::shared_ptr<CameraTree> Find(const std::string& host);  // null: none there
};

}  // namespace Vorn::Zephra::Net::Communication
