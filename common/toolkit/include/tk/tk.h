// The whole toolkit API for program code.
#pragma once

#include "tk/controls.h"
#include "tk/dialog.h"
#include "tk/dialog_template.h"
#include "tk/platform.h"
#include "tk/propsheet.h"
#include "tk/socket.h"
#include "tk/types.h"
#include "tk/wnd.h"
