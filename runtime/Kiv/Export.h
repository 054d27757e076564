#pragma once
// Visibility of the runtime's libraries. Every library is built with hidden
// visibility; a class or function marked with its library's macro is
// exported. On ELF the same attribute serves the library and its users.
#define KIV_API __attribute__((visibility("default")))
#define PYREL_API __attribute__((visibility("default")))
#define LUMO_API __attribute__((visibility("default")))
#define BRIDGING_API __attribute__((visibility("default")))
