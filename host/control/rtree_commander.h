#pragma once
// The control channel to a camera's resource tree. Connect reaches a camera by its host name
// (a simulated camera's device path); the camera checks the login. Until a login succeeds,
// every other call but UseTULAtempRanges throws InvalidOperationException; a camera that stopped answering makes
// them throw IOException. Unknown nodes and nodes that cannot be written throw
// NotSupportedException, values of the wrong kind ArgumentException.
#include <cstdint>
#include <istream>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "host/control/camera_tree.h"

#ifdef _WIN32
#include <windows.h>
#endif
#include "host/control/near_far_hidden.h"

namespace Vorn::Zephra::Net::Communication {

enum class ConnectionMode : int { Network = 1 };
enum class FOCUSMODE : int { NEAR = 0, FAR = 1, STOP = 2 };
#include "host/control/near_far_restored.h"

struct TemperatureRange {
    double min;
    double max;
};

class RTreeCommunication {
  public:
    RTreeCommunication();
    virtual ~RTreeCommunication();
    RTreeCommunication(const RTreeCommunication&) = delete;
    RTreeCommunication& operator=(const RTreeCommunication&) = delete;

    // False when no camera answers under that host name. The flag asks for the camera's
    // legacy handshake; the simulated cameras accept both.
    bool Connect(ConnectionMode mode, const std::string& host, bool flag);
    // Throws InvalidOperationException when the camera refuses the login.
    void Authenticate(const std::string& user, const std::string& password);
    bool IsConnected() const;
    void Dispose();

    RTreeValue GetValue(const std::string& node);
    void SetValue(const std::string& node, std::int32_t value);
    void SetValue(const std::string& node, double value);
    void SetValue(const std::string& node, bool value);
    // convert: the text is converted to the node's own kind; otherwise only text nodes take it.
    void SetValue(const std::string& node, const std::string& value, bool convert);

    // Runs a script against the tree, one statement per line ('#' starts a comment):
    //   set NODE VALUE     write VALUE, converted to the node's kind
    //   expect NODE VALUE  fail unless the node reads VALUE
    //   nuc                start a non-uniformity correction
    // A malformed line throws FormatException naming its line number; nothing after it runs.
    void RunScript(std::istream& script);

  protected:
    std::shared_ptr<CameraTree> Tree() const;  // the logged-in camera's tree, or throws
    std::shared_ptr<CameraTree> ConnectedTree() const;  // logged in or not
    std::int32_t LensAtLogin() const;

  private:
    // IsConnected may be asked from any thread while another one uses the channel.
    mutable std::mutex mutex_;
    std::shared_ptr<CameraTree> tree_;
    bool authenticated_ = false;
    std::int32_t lensAtLogin_ = 0;
};

class RTreeCommander : public RTreeCommunication {
  public:
    RTreeCommander();
    ~RTreeCommander() override;

    std::string GetName();
    std::string GetSerialNumber();
    std::string GetArticle();
    std::string GetSWVersion();
    std::string GetHWArticle();
    void UseTULAtempRanges();
    bool IsTULA();
    bool IsTheSameLens();  // false once the lens changed after the login
    void Nuc();
    bool GetShutter();
    void SetShutter(bool closed);
    std::vector<TemperatureRange> GetTemperatureRanges();
    int GetTemperatureRange();
    void SetTemperatureRange(int index);
    int GetFocusType();
    bool IsFocusSupported();
    void Focus(FOCUSMODE mode);
    void AutoFocus();
    int GetFocusMin();
    int GetFocusMax();
    int GetFocusPosition();
    void SetFocusPosition(int position);
    bool HasWindowing();
    bool GetWindowing();
    void SetWindowing(bool on);
    int GetWindowingFields();
    void SetWindowingFields(int fields);

  private:
    template <class T>
    T Read(const char* node);
};

}  // namespace Vorn::Zephra::Net::Communication
