#pragma once
// Which interpreters the modules run in.

namespace orvane {

// Throws (ending the import with ImportError) when called outside the main interpreter:
// the modules' classes and the handles cached to them belong to the whole process, and a
// sub-interpreter would need classes of its own that die with it.
void refuse_sub_interpreter(const char* module_name);

}  // namespace orvane
