// How the front ends write a folder they build file paths on.
#pragma once

#include <string>

// `folder` ending in a separator. One that ends in '/' or the platform's own separator ('\' on
// Windows) stays as it is, as does an empty one; else '/' is added, or '\' to a Windows path written
// with backslashes only.
std::string WithSeparator(const std::string& folder);
