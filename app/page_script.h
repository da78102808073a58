// The scripted twin's one difference from the launcher: once start-up is done
// it runs page script through the platform's JScript engine, with
// window.external (and external) being the page host's external object, as
// the browser would hand it to the page. Used where no HTML engine exists.
#pragma once

namespace app {

// Runs the script named by LAUNCHER_PAGE_SCRIPT (a UTF-8 file), or the inline
// script of the demo start page when the variable is unset. Script errors go
// to standard error (those of functions run by window.setTimeout too). False
// when no script could be run or it failed. The engine stays up, so that
// what the script handed to setTimeout runs later from the message loop.
bool RunPageScript();

// Closes the page's engine once the message loop has ended (before OLE goes).
void ClosePageScript();

// Runs RunPageScript from the message loop: after the messages already queued,
// and after LAUNCHER_PAGE_SCRIPT_DELAY_MS milliseconds when that is set (the
// demo uses it to let a person see the page view first).
void SchedulePageScript();

}  // namespace app
