// The operator's guide quotes the program's texts in «…» and shows its log in
// ``` blocks; every quotation must still be what the program says.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& Path) {
    std::ifstream In(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), {}};
}

// The program's texts, each between two \1: string literals split where a
// printf conversion fills something in.
std::string Texts(const std::vector<std::string>& Literals) {
    static const std::regex Conversion(R"(%[-+ #0]*[0-9]*(\.[0-9]+)?[hlLzjt]*[diouxXcsfeg%])");
    std::string Joined = "\1";
    for (const std::string& Literal : Literals)
        Joined += std::regex_replace(Literal, Conversion, "\1") + "\1";
    return Joined;
}

// The string literals of the program's sources, comments left out.
std::vector<std::string> ProgramLiterals() {
    static const std::regex Token(
        R"re(//[^\n]*|/\*[\s\S]*?\*/|'(?:[^'\\\n]|\\.)*'|"((?:[^"\\\n]|\\.)*)")re");
    std::vector<std::string> Result;
    for (const char* Folder : {"app", "driver", "link", "timeout"})
        for (const auto& Entry :
             fs::recursive_directory_iterator(fs::path(ORMANT_SOURCE_DIR) / Folder))
            if (std::regex_match(Entry.path().extension().string(),
                                 std::regex(R"(\.(cpp|h|rc))"))) {
                const std::string Source = ReadFile(Entry.path());
                for (std::sregex_iterator M(Source.begin(), Source.end(), Token), End; M != End;
                     ++M)
                    if ((*M)[1].matched)
                        Result.push_back((*M)[1]);
            }
    return Result;
}

// Whether Quote is texts put together. The program fills in numbers (with
// their padding) and other texts ("…"); next to those a text may begin or end
// inside the quotation, elsewhere only whole texts follow one another.
bool Quotes(const std::string& Quote, const std::string& Texts) {
    static const std::regex Filled("…|-?[0-9A-F]*[0-9][0-9A-F]* *");
    std::vector<std::string> Pieces(1);
    for (char C : std::regex_replace(Quote, Filled, "\2"))
        if (C == '\2')
            Pieces.emplace_back();
        else
            Pieces.back() += C;
    for (size_t I = 0; I < Pieces.size(); ++I) {
        const std::string& S = Pieces[I];
        std::vector<bool> Reached(S.size() + 1);
        Reached[0] = true;
        for (size_t B = 0; B < S.size(); ++B) {
            const std::string Left = B == 0 && I > 0 ? "" : "\1";
            for (size_t E = B + 1; Reached[B] && E <= S.size(); ++E) {
                const std::string Part = Left + S.substr(B, E - B);
                if (Texts.find(Part) == std::string::npos)
                    break;
                const bool Open = E == S.size() && I + 1 < Pieces.size();
                Reached[E] = Reached[E] || Open || Texts.find(Part + "\1") != std::string::npos;
            }
        }
        if (!Reached[S.size()])
            return false;
    }
    return true;
}

TEST(Guide, QuotesOnlyWhatTheProgramSays) {
    const std::string Guide = ReadFile(fs::path(ORMANT_SOURCE_DIR) / "docs" / "guide-ru.md");
    // Notepad of older Windows takes a text without a BOM for ANSI.
    ASSERT_EQ(Guide.substr(0, 3), "\xEF\xBB\xBF");
    std::vector<std::string> Quoted;
    static const std::regex Quotation(R"(«(.*?)»|«|\n```[^\n]*\n([^`]*)```)");
    for (std::sregex_iterator M(Guide.begin(), Guide.end(), Quotation), End; M != End; ++M) {
        std::stringstream Block((*M)[2].str());
        for (std::string Line; std::getline(Block, Line);)
            Quoted.push_back(Line);
        if (!(*M)[2].matched) // a « left open fails as it is no text of the program's
            Quoted.push_back((*M)[1].matched ? (*M)[1].str() : "«");
    }
    EXPECT_GE(Quoted.size(), 10u);
    const std::string Program = Texts(ProgramLiterals());
    for (const std::string& Quote : Quoted)
        EXPECT_TRUE(Quotes(Quote, Program)) << "«" << Quote << "» is not the program's";
}

TEST(Guide, TheCheckCatchesDrift) {
    const std::string T =
        Texts({"Ошибка драйвера: (%d) %s", "Нет связи", "%-6u мс : ", "Тест не пройден!"});
    EXPECT_TRUE(Quotes("Ошибка драйвера: (-1) Нет связи", T));
    EXPECT_TRUE(Quotes("10000  мс : Тест не пройден!", T));
    EXPECT_TRUE(Quotes("Ошибка драйвера: (3) …", T));
    for (const char* Drifted :
         {"Ошибка драйвера: (-1) Нет связи с ФР", "10000 мс: Тест не пройден!", "Тест не пройден",
          "Ошибка драйвера (-1) Нет связи"})
        EXPECT_FALSE(Quotes(Drifted, T)) << Drifted;
}

} // namespace
