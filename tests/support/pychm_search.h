#pragma once
// pychm (python3-chm), an independent reader of the full-text index: the
// pages its search finds. Its prefix search is used, since its whole-word
// search stops at the first entry of a word (often the title entry).

#include <set>
#include <string>
#include <vector>

namespace tbx::test {

// Whether python3 with pychm can be run here.
bool PychmAvailable();

// For each query (bytes as the help file's code page holds them), the
// pages whose words begin with it: their paths as #URLSTR holds them, in
// lower case, with '/' between folders and no leading '/'.
std::vector<std::set<std::string>> PychmSearch(const std::string& help,
                                               const std::vector<std::string>& queries);

// Runs a Python script with pychm and returns its standard output.
std::string RunPychmScript(const std::string& script, const std::vector<std::string>& args);

} // namespace tbx::test
