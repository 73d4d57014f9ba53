// Resource identifiers shared by larkspire.rc and the window code.
#pragma once

#define IDI_LARKSPIRE 1
