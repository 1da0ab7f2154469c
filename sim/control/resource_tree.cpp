#include "sim/control/resource_tree.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <stdexcept>

namespace zrf::sim {
namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool IsFocusNode(const std::string& node) {
    return node == nodes::kFocusType || node == nodes::kFocusMin || node == nodes::kFocusMax ||
           node == nodes::kFocusPosition;
}

bool IsInformationNode(const std::string& node) {
    return node == nodes::kName || node == nodes::kSerialNumber || node == nodes::kArticle ||
           node == nodes::kSWVersion || node == nodes::kHWArticle;
}

// A value converted to the kind of the node it is written to.
TreeValue Convert(const TreeValue& current, const TreeValue& value) {
    if (current.index() == value.index()) return value;
    if (std::holds_alternative<double>(current) && std::holds_alternative<std::int32_t>(value))
        return static_cast<double>(std::get<std::int32_t>(value));
    throw std::invalid_argument("value of the wrong kind");
}

}  // namespace

ResourceTree::ResourceTree(const TreeSettings& settings) : settings_(settings) {
    nodes_[nodes::kName] = settings.name;
    nodes_[nodes::kSerialNumber] = settings.serialNumber;
    nodes_[nodes::kArticle] = settings.article;
    nodes_[nodes::kSWVersion] = settings.swVersion;
    nodes_[nodes::kHWArticle] = settings.hwArticle;
    nodes_[nodes::kFamilyTula] = settings.tula;
    nodes_[nodes::kLensId] = std::int32_t{1};
    nodes_[nodes::kShutterClosed] = false;
    nodes_[nodes::kRangeIndex] = std::int32_t{0};
    nodes_[nodes::kRangeSetTula] = false;
    nodes_[nodes::kFocusType] = std::int32_t{settings.focusType};
    nodes_[nodes::kFocusSupported] = settings.focusSupported;
    nodes_[nodes::kFocusMin] = std::int32_t{settings.focusMin};
    nodes_[nodes::kFocusMax] = std::int32_t{settings.focusMax};
    nodes_[nodes::kFocusPosition] = std::int32_t{(settings.focusMin + settings.focusMax) / 2};
    nodes_[nodes::kFocusMode] = std::int32_t{-1};
    nodes_[nodes::kWindowingAvailable] = settings.windowing;
    nodes_[nodes::kWindowingActive] = false;
    nodes_[nodes::kWindowingFields] = std::int32_t{2};
    nodes_[nodes::kNucCount] = std::int32_t{0};
    nodes_[nodes::kCalibratingSamples] = std::int32_t{0};
    SetRanges(settings.ranges);
}

void ResourceTree::SetRanges(const std::vector<std::pair<double, double>>& ranges) {
    // Drop the old range nodes first: the new list may be shorter.
    for (auto it = nodes_.begin(); it != nodes_.end();) {
        const bool rangeItem = it->first.rfind("Camera.TemperatureRange.", 0) == 0 &&
                               (it->first.ends_with(".Min") || it->first.ends_with(".Max"));
        it = rangeItem ? nodes_.erase(it) : std::next(it);
    }
    nodes_[nodes::kRangeCount] = static_cast<std::int32_t>(ranges.size());
    for (std::size_t i = 0; i < ranges.size(); ++i) {
        nodes_[nodes::RangeMin(static_cast<int>(i))] = ranges[i].first;
        nodes_[nodes::RangeMax(static_cast<int>(i))] = ranges[i].second;
    }
}

bool ResourceTree::CheckLogin(const std::string& user, const std::string& password) const {
    return user == settings_.user && password == settings_.password;
}

TreeValue ResourceTree::Get(const std::string& node) const {
    if (settings_.focusQueriesFail && IsFocusNode(node))
        throw std::runtime_error("focus motor does not answer");
    if (settings_.informationFails && IsInformationNode(node))
        throw std::runtime_error("identity block unreadable");
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(node);
    if (it == nodes_.end()) throw std::out_of_range("unknown node '" + node + "'");
    return it->second;
}

bool ResourceTree::ReadOnly(const std::string& node) {
    return IsInformationNode(node) || node == nodes::kFamilyTula || node == nodes::kRangeCount ||
           node == nodes::kNucCount || node == nodes::kCalibratingSamples ||
           node == nodes::kWindowingAvailable || node == nodes::kFocusType ||
           node == nodes::kFocusMin || node == nodes::kFocusMax || node == nodes::kFocusSupported;
}

void ResourceTree::Set(const std::string& node, const TreeValue& value) {
    std::lock_guard lock(mutex_);
    auto it = nodes_.find(node);
    if (it == nodes_.end()) throw std::out_of_range("unknown node '" + node + "'");
    if (ReadOnly(node)) throw std::logic_error("node '" + node + "' is read-only");
    TreeValue converted = Convert(it->second, value);
    if (node == nodes::kRangeIndex) {
        const auto index = std::get<std::int32_t>(converted);
        if (index < 0 || index >= std::get<std::int32_t>(nodes_[nodes::kRangeCount]))
            throw std::invalid_argument("no temperature range " + std::to_string(index));
    }
    if (node == nodes::kWindowingFields) {
        const auto fields = std::get<std::int32_t>(converted);
        if (fields != 2 && fields != 4) throw std::invalid_argument("windowing takes 2 or 4 fields");
    }
    if (node == nodes::kFocusPosition) {
        auto p = std::get<std::int32_t>(converted);
        p = std::clamp(p, std::get<std::int32_t>(nodes_[nodes::kFocusMin]),
                       std::get<std::int32_t>(nodes_[nodes::kFocusMax]));
        converted = p;
    }
    it->second = converted;
}

void ResourceTree::SetFromText(const std::string& node, const std::string& text) {
    TreeValue current = Get(node);
    TreeValue value;
    if (std::holds_alternative<std::string>(current)) {
        value = text;
    } else if (std::holds_alternative<bool>(current)) {
        const std::string t = Lower(text);
        if (t == "true" || t == "1") value = true;
        else if (t == "false" || t == "0") value = false;
        else throw std::invalid_argument("'" + text + "' is not a boolean");
    } else if (std::holds_alternative<std::int32_t>(current)) {
        std::int32_t v = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size())
            throw std::invalid_argument("'" + text + "' is not an integer");
        value = v;
    } else {
        double v = 0;
        auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size())
            throw std::invalid_argument("'" + text + "' is not a number");
        value = v;
    }
    Set(node, value);
}

bool ResourceTree::Has(const std::string& node) const {
    std::lock_guard lock(mutex_);
    return nodes_.count(node) != 0;
}

std::vector<std::string> ResourceTree::NodeNames() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> names;
    for (const auto& [name, value] : nodes_) names.push_back(name);
    return names;
}

void ResourceTree::Nuc() {
    std::lock_guard lock(mutex_);
    nodes_[nodes::kNucCount] = std::get<std::int32_t>(nodes_[nodes::kNucCount]) + 1;
    nodes_[nodes::kCalibratingSamples] = std::int32_t{settings_.samplesPerCorrection};
}

void ResourceTree::UseTulaRanges() {
    std::lock_guard lock(mutex_);
    nodes_[nodes::kRangeSetTula] = true;
    SetRanges(settings_.tulaRanges);
    if (std::get<std::int32_t>(nodes_[nodes::kRangeIndex]) >=
        static_cast<std::int32_t>(settings_.tulaRanges.size()))
        nodes_[nodes::kRangeIndex] = std::int32_t{0};
}

std::vector<std::pair<double, double>> ResourceTree::Ranges() const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<double, double>> out;
    const int n = std::get<std::int32_t>(nodes_.at(nodes::kRangeCount));
    for (int i = 0; i < n; ++i)
        out.emplace_back(std::get<double>(nodes_.at(nodes::RangeMin(i))),
                         std::get<double>(nodes_.at(nodes::RangeMax(i))));
    return out;
}

void ResourceTree::SetOnline(bool online) {
    std::lock_guard lock(mutex_);
    online_ = online;
}

bool ResourceTree::Online() const {
    std::lock_guard lock(mutex_);
    return online_;
}

bool ResourceTree::TakeSampleCalibrating() {
    std::lock_guard lock(mutex_);
    auto& left = std::get<std::int32_t>(nodes_.find(std::string_view(nodes::kCalibratingSamples))->second);
    if (left <= 0) return false;
    --left;
    return true;
}

int ResourceTree::FieldsPerSample() const {
    std::lock_guard lock(mutex_);
    if (!std::get<bool>(nodes_.find(std::string_view(nodes::kWindowingActive))->second)) return 1;
    return std::get<std::int32_t>(nodes_.find(std::string_view(nodes::kWindowingFields))->second);
}

void TreeRegistry::Register(const std::string& host, std::shared_ptr<ResourceTree> tree) {
    control::CameraTreeRegistry::Register(host, std::move(tree));
}

void TreeRegistry::Unregister(const std::string& host) { control::CameraTreeRegistry::Unregister(host); }

std::shared_ptr<ResourceTree> TreeRegistry::Find(const std::string& host) {
    return std::dynamic_pointer_cast<ResourceTree>(control::CameraTreeRegistry::Find(host));
}

}  // namespace zrf::sim
