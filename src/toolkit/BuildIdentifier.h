// The toolkit's build identifier, for instance "Talvine 4.0.0, GNU 12.2.0,
// C++20, toolkit 1": a view built as a module of its own (TalvineQtView.so)
// shares the toolkit's classes with the library that loads it, so the two
// must come from the same toolkit interface, version and compiler.
#pragma once

namespace talvine::tk {

const char* buildIdentifier();

} // namespace talvine::tk
