// The Windows registry behind the Registry interface: advapi32 keys opened
// one level at a time, names and texts turned from UTF-8 into UTF-16 so that
// every character of a path survives.
#pragma once

#include "server/registry.h"

namespace quill {

class Win32Registry final : public Registry {
public:
    std::unique_ptr<RegistryKey> Root(RootKey root) override;
};

}  // namespace quill
