#include "sim/cameras/camera_identity.h"

#include "host/xml/documents.h"

namespace zrf::sim {

void FillIdentityXml(const CameraIdentity& identity,
                     Vorn::Zephra::Entities::XmlUtils::IdentityXml& xml) {
    xml.SetName(identity.name);
    xml.SetHostname(identity.hostname);
    xml.SetIdentifier(identity.identifier);
    xml.SetInterfaceIndex(identity.interface_index);
    xml.SetSelectedFormatId(identity.selected_format_id);
    xml.SetModelName(identity.model_name);
}

}  // namespace zrf::sim
