// main() of every test program: runs the registered test its first argument names (TestMain.h).
#include "TestMain.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TRegisteredTest {
    std::string name;
    TTestEntry entry;
};

std::vector<TRegisteredTest> &RegisteredTests()
{
    static std::vector<TRegisteredTest> tests;
    return tests;
}

const TRegisteredTest *FindTest(const char *AName)
{
    for (const TRegisteredTest &test : RegisteredTests())
        if (test.name == AName)
            return &test;
    return nullptr;
}

// A test process the test starts from its own program (QCoreApplication::applicationFilePath(), with
// arguments of its own) finds its test here: the program sets it for the test it runs.
const char *const TestNameVariable = "VORNAK_TEST_NAME";

} // namespace

bool RegisterTestEntry(const char *ASourceFile, TTestEntry AEntry)
{
    std::string name = ASourceFile;
    const std::size_t slash = name.find_last_of('/');
    if (slash != std::string::npos)
        name.erase(0, slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot != std::string::npos)
        name.erase(dot);
    RegisteredTests().push_back({name, AEntry});
    return true;
}

int main(int AArgc, char *AArgv[])
{
    const TRegisteredTest *test = nullptr;
    int skip = 0;  // the program's own arguments before QtTest's
    if (AArgc >= 2 && (test = FindTest(AArgv[1])) != nullptr)
        skip = 1;
    const char *inherited = std::getenv(TestNameVariable);
    if (!test && inherited)
        test = FindTest(inherited);
    if (!test && RegisteredTests().size() == 1)
        test = &RegisteredTests().front();
    if (!test) {
        std::fprintf(stderr, "usage: %s TEST [QtTest arguments]; its tests:\n", AArgv[0]);
        for (const TRegisteredTest &registered : RegisteredTests())
            std::fprintf(stderr, "  %s\n", registered.name.c_str());
        return 2;
    }
    setenv(TestNameVariable, test->name.c_str(), 1);

    // The test sees itself as a program of its own name, in this program's folder: Qt derives the
    // application's name (and with it folders of QStandardPaths) from the first argument.
    std::string self = AArgv[0];
    const std::size_t slash = self.find_last_of('/');
    self = (slash == std::string::npos ? std::string() : self.substr(0, slash + 1)) + test->name;
    std::vector<char *> args;
    args.push_back(self.data());
    for (int i = 1 + skip; i < AArgc; ++i)
        args.push_back(AArgv[i]);
    args.push_back(nullptr);
    return test->entry(int(args.size()) - 1, args.data());
}
