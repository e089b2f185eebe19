#pragma once
// The pages, built into the program from the files in assets/ (plain HTML
// with its style and script inside: nothing is fetched from elsewhere).
#include <string_view>

std::string_view StationPageHtml();
std::string_view LinePageHtml();
