#pragma once
// A resource set carried inside a library. The build generates one static registration per
// embedded file; the registration records which library file carries the bytes.
#include <cstddef>
#include <string>
#include <vector>

namespace Vorn::Resources {

class EmbeddedResourceRegistration {
  public:
    EmbeddedResourceRegistration(const char* name, const unsigned char* data, std::size_t size);
    ~EmbeddedResourceRegistration();
    EmbeddedResourceRegistration(const EmbeddedResourceRegistration&) = delete;
    EmbeddedResourceRegistration& operator=(const EmbeddedResourceRegistration&) = delete;
};

struct EmbeddedResource {
    std::string module;  // path of the library file that carries it
    std::string name;    // e.g. "CaptureDevice.Resources.resources"
    std::string bytes;
};

// The resource sets carried by the library that contains `anchor`, in registration order.
std::vector<EmbeddedResource> ResourcesOfModuleContaining(const void* anchor);
std::string ModulePathOf(const void* anchor);

}  // namespace Vorn::Resources
