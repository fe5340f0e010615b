// Helpers for defining exported entry points.
#pragma once

// Makes the function being defined a second exported name of `target`, an extern "C"
// function defined in the same file: one body, two symbols.
#define QUARN_EXPORT_ALIAS(target) __attribute__((alias(#target)))
