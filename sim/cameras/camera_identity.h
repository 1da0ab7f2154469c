#pragma once
// The identity a host passes at connect for a simulated camera, and its document form.
#include <string>

namespace Vorn::Zephra::Entities::XmlUtils {
class IdentityXml;
}

namespace zrf::sim {

// The three format entries a host passes back as the selected format.
inline constexpr const char* kFormatIdInfrared = "2BCCDA76-3A41-48ec-99D4-C3289324D535;IR;ZRF";
inline constexpr const char* kFormatIdYuy2 = "42295130-86FB-4960-8B76-CD6952B2420F;Visual;YUY2";
inline constexpr const char* kFormatIdJpegPlain =
    "628CCF1E-9C46-44e8-8ED1-10AA1ABB5A44;Visual;JPEG_PLAIN";

struct CameraIdentity {
    std::string name;
    std::string hostname;  // the device path, as the control channel and device selection use it
    std::string identifier;
    int interface_index = 0;
    std::string selected_format_id;  // empty: the radiometric format
    std::string model_name;
};

void FillIdentityXml(const CameraIdentity& identity,
                     Vorn::Zephra::Entities::XmlUtils::IdentityXml& xml);

}  // namespace zrf::sim
