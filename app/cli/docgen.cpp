// Build-time tool: the manual page and the bash completion, made from the
// option table so that they list exactly what the program takes.
//   vexolumen_docgen man TEMPLATE OUT     (TEMPLATE's "@OPTIONS@" line replaced)
//   vexolumen_docgen completion OUT
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "app/cli/OptionTable.h"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    std::string text;
    if (what == "man" && argc == 4) {
        std::ifstream in(argv[2]);
        std::stringstream all;
        all << in.rdbuf();
        text = all.str();
        const size_t at = text.find("@OPTIONS@\n");
        if (!in || at == std::string::npos) {
            std::cerr << "vexolumen_docgen: " << argv[2] << ": no @OPTIONS@ line\n";
            return 1;
        }
        text.replace(at, 10, ManPageOptions());
    } else if (what == "completion" && argc == 3) {
        text = BashCompletion();
    } else {
        std::cerr << "usage: vexolumen_docgen man TEMPLATE OUT | completion OUT\n";
        return 2;
    }
    std::ofstream out(argv[argc - 1], std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        std::cerr << "vexolumen_docgen: cannot write " << argv[argc - 1] << "\n";
        return 1;
    }
    return 0;
}
