#pragma once
// The control side of a simulated camera: its resource tree of named, typed nodes, the login
// it accepts and the behaviour behind some nodes (a correction makes the camera calibrate for a
// few samples; windowing sets the fields per sample). The video side reads the same tree for
// every sample. All members are safe to call from any thread.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "host/control/camera_tree.h"
#include "host/control/rtree_nodes.h"

namespace zrf::sim {

namespace control = Vorn::Zephra::Net::Communication;
using TreeValue = control::RTreeValue;
using control::ToText;
namespace nodes = control::nodes;

struct TreeSettings {
    std::string user = "root";
    std::string password = "7qazn";
    std::string name = "Simulated camera";
    std::string serialNumber = "00000000";
    std::string article = "SIM-0000";
    std::string swVersion = "1.0.0";
    std::string hwArticle = "SIM-HW-0";
    bool tula = false;
    std::vector<std::pair<double, double>> ranges = {{-20.0, 120.0}, {0.0, 500.0}};
    std::vector<std::pair<double, double>> tulaRanges = {{-20.0, 150.0}, {100.0, 650.0}};
    int focusType = 100;
    bool focusSupported = true;
    int focusMin = 0;
    int focusMax = 4000;
    bool windowing = false;
    int samplesPerCorrection = 5;  // samples the camera calibrates after a correction
    // Misbehaviour on request.
    bool focusQueriesFail = false;  // focus type, limits and position reads throw
    bool informationFails = false;  // the identity reads throw
};

class ResourceTree final : public control::CameraTree {
  public:
    explicit ResourceTree(const TreeSettings& settings = {});

    // Control side. Node reads and writes throw std::out_of_range for an unknown node,
    // std::invalid_argument for a value of the wrong kind and std::logic_error for a node that
    // cannot be written; the control channel turns them into its own errors.
    bool CheckLogin(const std::string& user, const std::string& password) const override;
    TreeValue Get(const std::string& node) const override;
    void Set(const std::string& node, const TreeValue& value) override;
    void SetFromText(const std::string& node, const std::string& text) override;
    bool Has(const std::string& node) const;
    std::vector<std::string> NodeNames() const;

    void Nuc() override;  // starts a correction: the next samples report calibrating
    void UseTulaRanges() override;
    std::vector<std::pair<double, double>> Ranges() const override;
    const TreeSettings& Settings() const { return settings_; }

    // The camera can go away (unplugged): its control channel then fails.
    void SetOnline(bool online);
    bool Online() const override;

    // Video side, once per sample: whether this sample is taken while calibrating (counts one
    // calibrating sample down), and the windowing fields the sample carries (1 when off).
    bool TakeSampleCalibrating();
    int FieldsPerSample() const;

  private:
    void SetRanges(const std::vector<std::pair<double, double>>& ranges);
    static bool ReadOnly(const std::string& node);

    const TreeSettings settings_;
    mutable std::mutex mutex_;
    // Transparent lookups: the video side asks per sample and must not allocate a key.
    std::map<std::string, TreeValue, std::less<>> nodes_;
    bool online_ = true;
};

// The simulated cameras' trees, found as the control channel finds them (the camera's device
// path as host name).
class TreeRegistry {
  public:
    static void Register(const std::string& host, std::shared_ptr<ResourceTree> tree);
    static void Unregister(const std::string& host);
    static std::shared_ptr<ResourceTree> Find(const std::string& host);  // null: none, or not ours
};

}  // namespace zrf::sim
