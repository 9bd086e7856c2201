// The registration script: a small text that describes registry keys and
// values in nested blocks, run forwards to write them and backwards to
// remove them again.
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {...} = s 'Name'
//           {
//               InprocServer32 = s '%MODULE%'
//               {
//                   val ThreadingModel = s 'both'
//               }
//           }
//       }
//   }
//
// Names between percent signs are replaced first (compared without regard
// to case; "%%" is one percent sign). Then tokens, separated by white space:
// a token that starts with a quote runs to the next lone quote, and a
// doubled quote inside stands for one. Each root block names a root key and
// holds entries: an optional "ForceRemove" or "Delete", an optional
// "NoRemove", then either "Val" NAME = TYPE VALUE, or a key name with an
// optional "= TYPE VALUE" (its default value) and an optional nested block.
// TYPE is "s" (text), "d" (a decimal 32-bit number) or "b" (hex byte pairs).
//
// Forwards: "ForceRemove" and "Delete" first remove the key with all it
// holds (never a key named CLSID or TYPELIB); after "Delete" the entry ends.
// Keys are opened or created and their values written. A root block that
// fails is run backwards from its start, so it leaves nothing behind.
// Backwards: named values are deleted; a key is deleted once it holds no
// subkeys, unless "NoRemove" marks it; a key that is not there is passed
// over with its block.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "server/registry.h"

namespace quill {

// Outcomes of a run, as the HRESULTs the module's entry points return.
namespace script_result {
inline constexpr int32_t kOk = 0;
// A percent name of 32 characters or more; an odd count of hex digits.
inline constexpr int32_t kFailed = static_cast<int32_t>(0x80004005);  // E_FAIL
// Malformed or truncated script, unknown percent name, a key that cannot be
// created or closed.
inline constexpr int32_t kBadScript = static_cast<int32_t>(0x80020009);  // DISP_E_EXCEPTION
// A "d" value that is not a decimal number, or one above 4294967295.
inline constexpr int32_t kNotANumber = static_cast<int32_t>(0x80020005);      // DISP_E_TYPEMISMATCH
inline constexpr int32_t kNumberTooLarge = static_cast<int32_t>(0x8002000A);  // DISP_E_OVERFLOW
}  // namespace script_result

enum class ScriptDirection { Register, Unregister };

// One name of the replacement table and the text it stands for.
struct ScriptReplacement {
    std::string name;
    std::string value;
};

// The replacement table of the module's own script: "Module", the module's
// full path with every quote doubled, so that the quoted token it lands in
// reads back as the path.
std::vector<ScriptReplacement> ModuleReplacements(std::string_view modulePath);

// Runs `script` in `direction`: the outcome of the first failing step, or
// kOk.
int32_t RunRegistrationScript(std::string_view script, const std::vector<ScriptReplacement>& replacements,
                              ScriptDirection direction, Registry& registry);

}  // namespace quill
