// The docstring of rust_read_vormant: its text signature, then the text that help() shows.
#pragma once

namespace tarnex {

// The first three lines are the text signature ("name(params)", "--", an empty line), from
// which the interpreter derives __text_signature__; __doc__ is the rest.
inline constexpr char kReadVormantDoc[] =
    "rust_read_vormant(file_path, n_digits)\n"
    "--\n"
    "\n"
    "# Reads in the vormant file.\n"
    "\n"
    "1. First opens the\n"
    "1. Gets the number of parameters\n"
    "1. Gets the parameter names\n"
    "1. Loops over the rest of the file\n"
    "\n"
    "## VORMANT plot file shape\n"
    "The VORMANT data is stored in blocks per timestep with a max width of 10 columns.\n"
    "There are 2 versions of the VORMANT plot file:\n"
    "1. 6 digits of percision, n_digits=12\n"
    "1. 9 digits of precision, n_digits=15\n"
    "\n"
    "Parameters\n"
    "----------\n"
    "file_path: &str\n"
    "    the file path\n"
    "n_digits: usize\n"
    "    the width of a datafield\n"
    "\n"
    "Returns\n"
    "-------\n"
    "all_data: Vec<Vec<f32>>\n"
    "    the data stored in a vector of columns/vectors.\n";

static_assert(sizeof(kReadVormantDoc) == 616 + 1, "616 bytes of text and the terminating NUL");

}  // namespace tarnex
