#include "host/resources/resource_manager.h"

#include <pugixml.hpp>

#include <algorithm>
#include <cctype>

#include "host/resources/embedded_resource.h"
#include "host/system/exceptions.h"

namespace System::Resources {
namespace {

constexpr const char kExtension[] = ".resources";

// Win32 resource names ignore case (the resource compiler stores them in capitals).
bool SameName(const std::string& a, const std::string& b) {
#ifdef _WIN32
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
#else
    return a == b;
#endif
}

std::string WithoutExtension(const std::string& name) {
    const std::string ext = kExtension;
    if (name.size() >= ext.size() && SameName(name.substr(name.size() - ext.size()), ext))
        return name.substr(0, name.size() - ext.size());
    return name;
}

}  // namespace

ResourceManager::ResourceManager(const std::string& baseName, const void* anchor)
    : baseName_(baseName) {
    for (const auto& set : Vorn::Resources::ResourcesOfModuleContaining(anchor)) {
        if (!SameName(WithoutExtension(set.name), baseName)) continue;
        pugi::xml_document doc;
        if (!doc.load_buffer(set.bytes.data(), set.bytes.size()))
            throw MissingManifestResourceException("Resource set '" + set.name +
                                                   "' cannot be read.");
        for (pugi::xml_node data : doc.child("resources").children("data"))
            strings_.emplace(data.attribute("name").value(), data.child_value("value"));
        return;
    }
    throw MissingManifestResourceException("Could not find the resource set '" + baseName +
                                           kExtension + "' in " +
                                           Vorn::Resources::ModulePathOf(anchor) + ".");
}

const std::string& ResourceManager::GetString(const std::string& name) const {
    auto it = strings_.find(name);
    if (it == strings_.end())
        throw MissingManifestResourceException("Could not find the resource '" + name +
                                               "' in the set '" + baseName_ + "'.");
    return it->second;
}

}  // namespace System::Resources
