// For tests: the Linux back end can be told to skip openat2, so the
// component walk that older kernels get is exercised on every kernel.
#pragma once

namespace tarnwick::serve::root_folder_detail {

void UseOpenat2(bool use);  // no effect on Windows

}  // namespace tarnwick::serve::root_folder_detail
