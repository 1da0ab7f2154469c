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

namespace zrf::sim {

using TreeValue = std::variant<bool, std::int32_t, double, std::string>;

// Node names of the tree.
namespace nodes {
inline constexpr const char* kName = "Camera.Name";
inline constexpr const char* kSerialNumber = "Camera.SerialNumber";
inline constexpr const char* kArticle = "Camera.Article";
inline constexpr const char* kSWVersion = "Camera.SWVersion";
inline constexpr const char* kHWArticle = "Camera.HWArticle";
inline constexpr const char* kFamilyTula = "Camera.Family.TULA";
inline constexpr const char* kLensId = "Camera.Lens.Id";
inline constexpr const char* kShutterClosed = "Camera.Shutter.Closed";
inline constexpr const char* kRangeIndex = "Camera.TemperatureRange.Index";
inline constexpr const char* kRangeCount = "Camera.TemperatureRange.Count";
inline constexpr const char* kRangeSetTula = "Camera.TemperatureRange.TULA";
inline constexpr const char* kFocusType = "Camera.Focus.Type";
inline constexpr const char* kFocusSupported = "Camera.Focus.Supported";
inline constexpr const char* kFocusMin = "Camera.Focus.Min";
inline constexpr const char* kFocusMax = "Camera.Focus.Max";
inline constexpr const char* kFocusPosition = "Camera.Focus.Position";
inline constexpr const char* kFocusMode = "Camera.Focus.LastMode";  // -1 none, 0..2, 3 = auto
inline constexpr const char* kWindowingAvailable = "Camera.Windowing.Available";
inline constexpr const char* kWindowingActive = "Camera.Windowing.Active";
inline constexpr const char* kWindowingFields = "Camera.Windowing.Fields";
inline constexpr const char* kNucCount = "Camera.Nuc.Count";
inline constexpr const char* kCalibratingSamples = "Camera.Nuc.CalibratingSamples";
std::string RangeMin(int index);  // "Camera.TemperatureRange.<i>.Min"
std::string RangeMax(int index);
}  // namespace nodes

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

class ResourceTree {
  public:
    explicit ResourceTree(const TreeSettings& settings = {});

    // Control side. Node reads and writes throw std::out_of_range for an unknown node,
    // std::invalid_argument for a value of the wrong kind and std::logic_error for a node that
    // cannot be written; the control channel turns them into its own errors.
    bool CheckLogin(const std::string& user, const std::string& password) const;
    TreeValue Get(const std::string& node) const;
    void Set(const std::string& node, const TreeValue& value);
    void SetFromText(const std::string& node, const std::string& text);
    bool Has(const std::string& node) const;
    std::vector<std::string> NodeNames() const;

    void Nuc();  // starts a correction: the next samples report calibrating
    void UseTulaRanges();
    std::vector<std::pair<double, double>> Ranges() const;
    const TreeSettings& Settings() const { return settings_; }

    // The camera can go away (unplugged): its control channel then fails.
    void SetOnline(bool online);
    bool Online() const;

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

// The simulated cameras' trees by host name (the camera's device path), matched ignoring case.
class TreeRegistry {
  public:
    static void Register(const std::string& host, std::shared_ptr<ResourceTree> tree);
    static void Unregister(const std::string& host);
    static std::shared_ptr<ResourceTree> Find(const std::string& host);
};

std::string ToText(const TreeValue& value);

}  // namespace zrf::sim
