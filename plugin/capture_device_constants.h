#pragma once
// Fixed texts and values of the device: formats, login, messages and logged keys.
#include <cstdint>

namespace Vorn::Zephra::Net::Devices::Camera::IR::constants {

// The format entries exactly as the plug-in's resources list them.
inline constexpr const char* kFormatIr = "2BCCDA76-3A41-48ec-99D4-C3289324D535;IR;ZRF";
inline constexpr const char* kFormatYuy2 = "42295130-86FB-4960-8B76-CD6952B2420F;Visual;YUY2";
inline constexpr const char* kFormatJpeg = "628CCF1E-9C46-44e8-8ED1-10AA1ABB5A44;Visual;JPEG_PLAIN";

inline constexpr const char* kWebcamModel = "WEBCAM";
inline constexpr const char* kUser = "root";
inline constexpr const char* kPassword = "7qazn";

inline constexpr int kPreRecordingImages = 200;
// A camera script is a few lines; a larger file is refused unread.
inline constexpr std::uint64_t kMaxScriptBytes = 1u << 20;

// Settling waits, in milliseconds.
inline constexpr std::uint32_t kNucSettleMs = 3000;
inline constexpr std::uint32_t kWindowingSettleMs = 3500;
inline constexpr std::uint32_t kTemperatureRangeSettleMs = 5000;

inline constexpr float kWindowingGraphRate = 30.0f;
inline constexpr float kWindowingRate2 = 60.0f;
inline constexpr float kWindowingRate4 = 120.0f;

// Messages.
inline constexpr const char* kNotConnected = "Not connected";
inline constexpr const char* kConnectFailed = "Connect failed";
inline constexpr const char* kSelectDeviceFailed = "SelectDevice failed";
inline constexpr const char* kSetMediaTypeFailed = "SetMediaType failed";
inline constexpr const char* kUnsupportedFormat = "Connect failed. Unsupported image format";
inline constexpr const char* kStartFailed = "Start failed";
inline constexpr const char* kGrabbingNotStarted = "Grabbing not started";
inline constexpr const char* kLensChanged = "lens changed. Temp. ranges invalid";
inline constexpr const char* kUnsupportedWindowing = "Unsupported windowing mode";
inline constexpr const char* kNotImplemented = "Command not implemented: ";
inline constexpr const char* kGrabberThreadFailure = "Exception in Grabber thread";
inline constexpr const char* kDeferredFailure = "A stop, disconnect or disposal a handler asked for failed";
inline constexpr const char* kDisposed = "The device is disposed; create a new one.";
inline constexpr const char* kCalledFromHandler =
    " cannot be called from a Completed, Calibrating or RecordingStatus handler: it waits for the "
    "device's lock, which another thread may hold while it waits for that handler to return. Call "
    "it from another thread.";

// Logged user errors: key and text.
inline constexpr const char* kKeyRegistryConnect = "CAMERA_RTREE_CONNECT_ERROR";
inline constexpr const char* kTextRegistryConnect = "Failed to connect to camera registry";
inline constexpr const char* kKeyAuthenticate = "CAMERA_RTREE_AUTHENTICATE_ERROR";
inline constexpr const char* kTextAuthenticate = "log in to camera failed";
inline constexpr const char* kKeyStreamingNotSupported = "CAMERA_ERROR_STREAMING_NOT_SUPPORTED";
inline constexpr const char* kTextStreamingNotSupported = "Streaming from this camera is not supported";
inline constexpr const char* kKeyAlreadyStreaming = "CAMERA_ERROR_ALREADY_STREAMING";
inline constexpr const char* kTextAlreadyStreaming = "The camera is already in a streaming state";

inline constexpr std::int32_t kAlreadyInUse = static_cast<std::int32_t>(0x800705AA);

}  // namespace Vorn::Zephra::Net::Devices::Camera::IR::constants
