// Message numbers the main window gives a meaning of its own.
#pragma once

namespace ui {

constexpr unsigned kShowMainMessage = 10002;        // show the main window
constexpr unsigned kHideMainMessage = 10003;        // hide the main window
constexpr unsigned kNotifyCallbackMessage = 11012;  // notification-area callback
constexpr unsigned kTrayIconId = 128;               // the callback's word parameter
constexpr unsigned kTrayCloseCommand = 11013;       // the notification menu's closing item

}  // namespace ui
