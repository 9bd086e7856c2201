// The console's bench job: each query, records pulled from document 1 and
// records loaded into database 3, timed at the standard pace and then at the
// fast one against the same terminal, and printed side by side with the time
// the line itself needs for the bytes.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "tools/host-console/script_object.h"

namespace quill::console {

// Runs `count` records each way at the standard pace and ten times as many
// at the fast one (the terminal's document 1 needs eleven times `count`). False, with `error` set, when the component cannot
// change its pace or reach the terminal; false too when a record did not
// move.
bool RunBench(ScriptObject& object, LONG count, const std::function<void(const std::wstring&)>& print,
              std::wstring& error);

}  // namespace quill::console
