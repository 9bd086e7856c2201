// The registration script resource, named here for the resource script and
// for the code that runs it. Plain definitions only: the resource compiler
// reads this file too.
#pragma once

#define IDR_REGISTRATION_SCRIPT 210
