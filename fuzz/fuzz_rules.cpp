// Include and exclude rule lines: each line parsed alone, exported and used
// to select a few paths, then the whole input read as a set's rule file
// (templates included from the configuration folder).
#include "fuzz/FuzzSupport.h"
#include "selection/IncludeNode.h"
#include "selection/RuleFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<IncludeNode*> rules;
    for (std::string line : SplitLines(data, size, 4096)) {
        IncludeNode* node = new IncludeNode(&line[0]);
        if (node->error) {
            delete node;
            continue;
        }
        delete[] node->Export();
        rules.push_back(node);
    }
    for (const char* path : {"|home|ann|a.txt", "|", "|etc|"}) {
        IsIncluded(path, &rules, 0, 0);
        IsIncluded(path, &rules, 1, 1);
        IsExcluded(path, &rules, 0);
    }
    ClearRules(&rules);

    std::string file = FreshWorkDir() + "includes";
    WriteBytes(file, data, size);
    std::vector<IncludeNode*> includes, excludes;
    ReadIncludes(file.c_str(), &includes, &excludes);
    ClearRules(&includes);
    ClearRules(&excludes);
    return 0;
}
