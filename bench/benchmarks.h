#pragma once

namespace vxbench {

void register_index_benchmarks();
void register_read_benchmarks();

}  // namespace vxbench
