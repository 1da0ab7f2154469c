#include "host/resources/resource_manager.h"

#include <gtest/gtest.h>

#include "host/resources/embedded_resource.h"
#include "host/system/exceptions.h"

using System::Resources::MissingManifestResourceException;
using System::Resources::ResourceManager;

namespace {
const int kAnchor = 0;  // this executable carries the test resource sets
}

TEST(ResourceManager, ReadsStringsOfASetCarriedByTheModule) {
    ResourceManager rm("Test.Strings", &kAnchor);
    EXPECT_EQ(rm.GetString("GREETING"), "hello|world||");
    EXPECT_EQ(rm.GetString("EMPTY"), "");
}

TEST(ResourceManager, MissingSetResourceOrUnreadableSetThrows) {
    EXPECT_THROW(ResourceManager("No.Such.Set", &kAnchor), MissingManifestResourceException);
    // The name is matched without its extension only.
    EXPECT_THROW(ResourceManager("Test.Strings.resources", &kAnchor),
                 MissingManifestResourceException);
    ResourceManager rm("Test.Strings", &kAnchor);
    EXPECT_THROW(rm.GetString("ID"), MissingManifestResourceException);
    EXPECT_THROW(ResourceManager("Broken", &kAnchor), MissingManifestResourceException);
}

TEST(ResourceManager, SetsOfOtherModulesAreNotVisible) {
    // An address inside the framework library, which carries no resource sets.
    const void* frameworkAnchor = reinterpret_cast<const void*>(&Vorn::Resources::ModulePathOf);
    EXPECT_THROW(ResourceManager("Test.Strings", frameworkAnchor), MissingManifestResourceException);
}
