#pragma once
// Builds CMAX project files for the tests: a Local section with full-size (or
// deliberately short) Variables, X-10 and Infra-Red lists, then module sections.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "text_files.h"

namespace varnel::test {

struct ProjectBuilder {
    int variableLines = 128;
    int x10Lines = 256;
    int irLines = 1024;
    std::map<int, std::string> vars;                                        // variable -> text after the tabs
    std::map<std::string, std::string> x10;                                 // "A1" -> text after the tabs
    std::map<int, std::string> ir;                                          // IR record -> text after the tabs
    std::vector<std::pair<std::string, std::vector<std::string>>> modules;  // header text, lines after "\t\t"

    // Module section with `count` lines "<stem><n>" (n from 1), some replaced by `named`.
    void module(int unit, int count, const std::string& stem, std::map<int, std::string> named = {}) {
        std::vector<std::string> lines;
        for (int n = 1; n <= count; ++n) lines.push_back(named.count(n) ? named[n] : stem + std::to_string(n));
        modules.emplace_back("Module #" + std::to_string(unit), std::move(lines));
    }

    [[nodiscard]] std::vector<std::string> lines() const {
        std::vector<std::string> out{"CMAX Project\tVersion 2.20", "System Map", "\tLocal", "\t\tVariables"};
        for (int k = 0; k < variableLines; ++k)
            out.push_back("\t\t\t" + (vars.count(k) ? vars.at(k) : "Variable #" + std::to_string(k)));
        out.push_back("\t\tX-10");
        for (int n = 0; n < x10Lines; ++n) {
            const std::string code = std::string(1, static_cast<char>('A' + n / 16)) + std::to_string(n % 16 + 1);
            out.push_back("\t\t\t" + (x10.count(code) ? x10.at(code)
                                                      : "X-10 House " + code.substr(0, 1) + " Unit " + code.substr(1)));
        }
        out.push_back("\t\tInfra-Red");
        for (int r = 0; r < irLines; ++r)
            out.push_back("\t\t\t" + (ir.count(r) ? ir.at(r) : "IR #" + std::to_string(r)));
        for (const auto& [header, entries] : modules) {
            out.push_back("\t" + header);
            for (const auto& e : entries) out.push_back("\t\t" + e);
        }
        out.push_back("Program");
        out.push_back("\t0000\tEND");
        return out;
    }

    [[nodiscard]] std::string text() const {
        std::string out;
        for (const auto& l : lines()) out += l + "\r\n";
        return out;
    }

    // Line numbers of the section headers in text().
    static constexpr int kVariablesHeader = 4;
    [[nodiscard]] int x10Header() const { return kVariablesHeader + variableLines + 1; }
    [[nodiscard]] int irHeader() const { return x10Header() + x10Lines + 1; }
};

// Every line of `after` but those in `changed` is as in `before`.
inline void expectOnlyChanged(const std::string& before, const std::string& after, const std::vector<int>& changed) {
    const auto count = std::count(before.begin(), before.end(), '\n');
    ASSERT_EQ(std::count(after.begin(), after.end(), '\n'), count);
    for (int id = 1; id <= count; ++id) {
        if (std::find(changed.begin(), changed.end(), id) == changed.end()) {
            EXPECT_EQ(lineAt(after, id), lineAt(before, id)) << "line " << id;
        }
    }
}

}  // namespace varnel::test
