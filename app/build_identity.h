// The build's identity: what a new launcher's self-test reports, so that the
// log names the build that is about to take over.
#pragma once

namespace app {

const char* BuildIdentity();

}  // namespace app
