// Resource identifiers and version of the module, shared by the resource
// script and the code that loads the resources. The settings page's own
// identifiers are in ui/settings_page_ids.h.
#pragma once

#define IDR_TYPELIB 1

#define QUILL_VERSION_NUMBERS 4,0,9,1
#define QUILL_VERSION_TEXT "4.0.9.1"
