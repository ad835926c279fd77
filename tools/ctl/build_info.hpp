#pragma once
// What the programs of this build were built from, for the record a run
// leaves behind: the source tree's `git describe` (with "-dirty" when it had
// changes) and its commit. Empty when the sources were not a git checkout.

namespace brelo_ctl {

const char* build_version();
const char* build_commit();

}  // namespace brelo_ctl
