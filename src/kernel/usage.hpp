#pragma once
// Help and usage texts of the command line. Both end the process with -1.

[[noreturn]] void Brelo_help(const char* program);
[[noreturn]] void Brelo_usage(const char* program);
