#pragma once

namespace vxbench {

void register_edit_benchmarks();
void register_index_benchmarks();
void register_read_benchmarks();
void register_write_benchmarks();

}  // namespace vxbench
