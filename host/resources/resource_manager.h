#pragma once
// Named string resources from a resource set carried by a library. A set is an XML document:
//   <resources><data name="KEY"><value>TEXT</value></data>...</resources>
#include <map>
#include <string>

namespace System::Resources {

class ResourceManager {
  public:
    // Opens the first set carried by the library containing `anchor` whose name, without its
    // ".resources" extension, is `baseName`. Throws MissingManifestResourceException when the
    // library carries no such set or the set cannot be read.
    ResourceManager(const std::string& baseName, const void* anchor);

    // Throws MissingManifestResourceException when the set has no such string.
    const std::string& GetString(const std::string& name) const;

  private:
    std::string baseName_;
    std::map<std::string, std::string> strings_;
};

}  // namespace System::Resources
