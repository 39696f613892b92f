// The tab-separated fields of one run record line (without its newline).
#pragma once

#include <string>
#include <vector>

namespace mptest {

inline std::vector<std::string> record_fields(const std::string& line)
{
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
        fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    return fields;
}

}  // namespace mptest
