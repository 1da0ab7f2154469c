#include "host/control/rtree_commander.h"

#include <sstream>
#include <stdexcept>

#include "host/system/exceptions.h"
#include "host/control/rtree_nodes.h"

namespace Vorn::Zephra::Net::Communication {
namespace {

namespace n = nodes;

// Runs a tree operation and turns the tree's errors into the channel's.
template <class F>
auto Guarded(F&& f) -> decltype(f()) {
    try {
        return f();
    } catch (const std::out_of_range& e) {
        throw System::NotSupportedException(std::string("Unknown node: ") + e.what());
    } catch (const std::invalid_argument& e) {
        throw System::ArgumentException(e.what());
    } catch (const std::logic_error& e) {
        throw System::NotSupportedException(e.what());
    } catch (const std::runtime_error& e) {
        throw System::IOException(std::string("The camera failed: ") + e.what());
    }
}

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

}  // namespace

RTreeCommunication::RTreeCommunication() = default;
RTreeCommunication::~RTreeCommunication() = default;

bool RTreeCommunication::Connect(ConnectionMode, const std::string& host, bool) {
    auto tree = CameraTreeRegistry::Find(host);
    if (!tree || !tree->Online()) return false;
    std::lock_guard lock(mutex_);
    tree_ = std::move(tree);
    authenticated_ = false;
    return true;
}

void RTreeCommunication::Authenticate(const std::string& user, const std::string& password) {
    std::shared_ptr<CameraTree> tree;
    {
        std::lock_guard lock(mutex_);
        tree = tree_;
    }
    if (!tree) throw System::InvalidOperationException("Not connected to a camera registry.");
    if (!tree->CheckLogin(user, password))
        throw System::InvalidOperationException("The camera refused the login of '" + user + "'.");
    const auto lens = std::get<std::int32_t>(Guarded([&] { return tree->Get(n::kLensId); }));
    std::lock_guard lock(mutex_);
    authenticated_ = true;
    lensAtLogin_ = lens;
}

bool RTreeCommunication::IsConnected() const {
    std::lock_guard lock(mutex_);
    return tree_ && tree_->Online();
}

void RTreeCommunication::Dispose() {
    std::lock_guard lock(mutex_);
    tree_.reset();
    authenticated_ = false;
}

std::shared_ptr<CameraTree> RTreeCommunication::Tree() const {
    std::lock_guard lock(mutex_);
    if (!tree_ || !authenticated_)
        throw System::InvalidOperationException("Not logged in to a camera registry.");
    if (!tree_->Online()) throw System::IOException("The camera does not answer.");
    return tree_;
}

std::shared_ptr<CameraTree> RTreeCommunication::ConnectedTree() const {
    std::lock_guard lock(mutex_);
    if (!tree_) throw System::InvalidOperationException("Not connected to a camera registry.");
    if (!tree_->Online()) throw System::IOException("The camera does not answer.");
    return tree_;
}

std::int32_t RTreeCommunication::LensAtLogin() const {
    std::lock_guard lock(mutex_);
    return lensAtLogin_;
}

RTreeValue RTreeCommunication::GetValue(const std::string& node) {
    return Guarded([&] { return Tree()->Get(node); });
}

void RTreeCommunication::SetValue(const std::string& node, std::int32_t value) {
    Guarded([&] { Tree()->Set(node, value); });
}

void RTreeCommunication::SetValue(const std::string& node, double value) {
    Guarded([&] { Tree()->Set(node, value); });
}

void RTreeCommunication::SetValue(const std::string& node, bool value) {
    Guarded([&] { Tree()->Set(node, value); });
}

void RTreeCommunication::SetValue(const std::string& node, const std::string& value,
                                  bool convert) {
    Guarded([&] {
        if (convert)
            Tree()->SetFromText(node, value);
        else
            Tree()->Set(node, value);
    });
}

void RTreeCommunication::RunScript(std::istream& script) {
    std::string line;
    for (int number = 1; std::getline(script, line); ++number) {
        line = Trim(line.substr(0, line.find('#')));
        if (line.empty()) continue;
        std::istringstream words(line);
        std::string verb, node;
        words >> verb >> node;
        std::string value;
        std::getline(words, value);
        value = Trim(value);
        const std::string where = "script line " + std::to_string(number) + ": ";
        if (verb == "nuc" && node.empty()) {
            Guarded([&] { Tree()->Nuc(); });
        } else if (verb == "set" && !node.empty() && !value.empty()) {
            SetValue(node, value, true);
        } else if (verb == "expect" && !node.empty() && !value.empty()) {
            const std::string actual = ToText(GetValue(node));
            if (actual != value)
                throw System::InvalidOperationException(where + node + " is " + actual +
                                                        ", expected " + value);
        } else {
            throw System::FormatException(where + "cannot read '" + line + "'");
        }
    }
}

RTreeCommander::RTreeCommander() = default;
RTreeCommander::~RTreeCommander() = default;

template <class T>
T RTreeCommander::Read(const char* node) {
    return std::get<T>(GetValue(node));
}

std::string RTreeCommander::GetName() { return Read<std::string>(n::kName); }
std::string RTreeCommander::GetSerialNumber() { return Read<std::string>(n::kSerialNumber); }
std::string RTreeCommander::GetArticle() { return Read<std::string>(n::kArticle); }
std::string RTreeCommander::GetSWVersion() { return Read<std::string>(n::kSWVersion); }
std::string RTreeCommander::GetHWArticle() { return Read<std::string>(n::kHWArticle); }

void RTreeCommander::UseTULAtempRanges() {
    // A choice of the channel's range handling: it comes before the login.
    Guarded([&] { ConnectedTree()->UseTulaRanges(); });
}

bool RTreeCommander::IsTULA() { return Read<bool>(n::kFamilyTula); }

bool RTreeCommander::IsTheSameLens() { return Read<std::int32_t>(n::kLensId) == LensAtLogin(); }

void RTreeCommander::Nuc() {
    Guarded([&] { Tree()->Nuc(); });
}

bool RTreeCommander::GetShutter() { return Read<bool>(n::kShutterClosed); }
void RTreeCommander::SetShutter(bool closed) { SetValue(n::kShutterClosed, closed); }

std::vector<TemperatureRange> RTreeCommander::GetTemperatureRanges() {
    std::vector<TemperatureRange> out;
    for (auto [min, max] : Guarded([&] { return Tree()->Ranges(); })) out.push_back({min, max});
    return out;
}

int RTreeCommander::GetTemperatureRange() { return Read<std::int32_t>(n::kRangeIndex); }
void RTreeCommander::SetTemperatureRange(int index) { SetValue(n::kRangeIndex, std::int32_t{index}); }

int RTreeCommander::GetFocusType() { return Read<std::int32_t>(n::kFocusType); }
bool RTreeCommander::IsFocusSupported() { return Read<bool>(n::kFocusSupported); }

#include "host/control/near_far_hidden.h"
void RTreeCommander::Focus(FOCUSMODE mode) {
    // Near and far move the lens one step; stop holds it.
    constexpr std::int32_t kStep = 100;
    const std::int32_t position = GetFocusPosition();
    if (mode == FOCUSMODE::NEAR) SetFocusPosition(position - kStep);
    if (mode == FOCUSMODE::FAR) SetFocusPosition(position + kStep);
    SetValue(n::kFocusMode, static_cast<std::int32_t>(mode));
}
#include "host/control/near_far_restored.h"

void RTreeCommander::AutoFocus() {
    SetFocusPosition((GetFocusMin() + GetFocusMax()) / 2);
    SetValue(n::kFocusMode, std::int32_t{3});
}

int RTreeCommander::GetFocusMin() { return Read<std::int32_t>(n::kFocusMin); }
int RTreeCommander::GetFocusMax() { return Read<std::int32_t>(n::kFocusMax); }
int RTreeCommander::GetFocusPosition() { return Read<std::int32_t>(n::kFocusPosition); }
void RTreeCommander::SetFocusPosition(int position) {
    SetValue(n::kFocusPosition, std::int32_t{position});
}

bool RTreeCommander::HasWindowing() { return Read<bool>(n::kWindowingAvailable); }
bool RTreeCommander::GetWindowing() { return Read<bool>(n::kWindowingActive); }

void RTreeCommander::SetWindowing(bool on) {
    if (on && !HasWindowing()) throw System::NotSupportedException("The camera has no windowing.");
    SetValue(n::kWindowingActive, on);
}

int RTreeCommander::GetWindowingFields() { return Read<std::int32_t>(n::kWindowingFields); }
void RTreeCommander::SetWindowingFields(int fields) {
    SetValue(n::kWindowingFields, std::int32_t{fields});
}

}  // namespace Vorn::Zephra::Net::Communication
