// The control channel meets any camera that registers a tree, knowing nothing of its code: the
// tree's errors become the channel's, and a camera that leaves or stops answering is seen.
#include "host/control/camera_tree.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "host/control/rtree_commander.h"
#include "host/system/exceptions.h"

using namespace Vorn::Zephra::Net::Communication;

namespace {

constexpr const char* kHost = "\\\\?\\usb#vid_4321&pid_0002#tree-test";

// A camera whose reads throw what it is told to.
class ScriptedTree final : public CameraTree {
  public:
    std::function<void()> failure = [] {};
    bool online = true;
    RTreeValue last = std::int32_t{0};

    bool CheckLogin(const std::string& user, const std::string& password) const override {
        return user == "u" && password == "p";
    }
    RTreeValue Get(const std::string&) const override {
        failure();
        return last;
    }
    void Set(const std::string&, const RTreeValue& value) override {
        failure();
        last = value;
    }
    void SetFromText(const std::string&, const std::string& text) override { last = text; }
    void Nuc() override { failure(); }
    void UseTulaRanges() override {}
    std::vector<std::pair<double, double>> Ranges() const override { return {{1.0, 2.0}}; }
    bool Online() const override { return online; }
};

struct Registered {
    std::shared_ptr<ScriptedTree> tree = std::make_shared<ScriptedTree>();
    Registered() { CameraTreeRegistry::Register(kHost, tree); }
    ~Registered() { CameraTreeRegistry::Unregister(kHost); }
};

}  // namespace

TEST(CameraTreeRegistry, TheChannelFindsATreeByHostNameInAnyCaseUntilItLeaves) {
    RTreeCommander commander;
    EXPECT_FALSE(commander.Connect(ConnectionMode::Network, kHost, false));
    {
        Registered camera;
        ASSERT_TRUE(commander.Connect(ConnectionMode::Network, "\\\\?\\USB#VID_4321&PID_0002#TREE-TEST", false));
        EXPECT_THROW(commander.Authenticate("u", "wrong"), System::InvalidOperationException);
        commander.Authenticate("u", "p");
        commander.SetValue("Any.Node", std::int32_t{7});
        EXPECT_EQ(ToText(commander.GetValue("Any.Node")), "7");
        ASSERT_EQ(commander.GetTemperatureRanges().size(), 1u);
        camera.tree->online = false;
        EXPECT_FALSE(commander.IsConnected());
        EXPECT_THROW(commander.GetValue("Any.Node"), System::IOException);
    }
    EXPECT_FALSE(commander.Connect(ConnectionMode::Network, kHost, false));
}

TEST(CameraTreeRegistry, ATreesErrorsBecomeTheChannels) {
    Registered camera;
    RTreeCommander commander;
    ASSERT_TRUE(commander.Connect(ConnectionMode::Network, kHost, false));
    commander.Authenticate("u", "p");
    const auto read = [&] { commander.GetValue("Any.Node"); };
    const auto write = [&] { commander.SetValue("Any.Node", true); };
    const auto nuc = [&] { commander.Nuc(); };
    for (const auto& operation : {std::function<void()>(read), std::function<void()>(write),
                                  std::function<void()>(nuc)}) {
        camera.tree->failure = [] { throw std::out_of_range("Any.Node"); };
        EXPECT_THROW(operation(), System::NotSupportedException);
        camera.tree->failure = [] { throw std::invalid_argument("wrong kind"); };
        EXPECT_THROW(operation(), System::ArgumentException);
        camera.tree->failure = [] { throw std::logic_error("read-only"); };
        EXPECT_THROW(operation(), System::NotSupportedException);
        camera.tree->failure = [] { throw std::runtime_error("broken"); };
        EXPECT_THROW(operation(), System::IOException);
        camera.tree->failure = [] {};
        EXPECT_NO_THROW(operation());
    }
}
