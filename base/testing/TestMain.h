// The tests of a folder share one test program: each test source registers its entry point here instead of
// defining main(), and the program runs the test named by its first argument (`tests_base tst_uTempFile
// -o -,txt`), every other argument going to QtTest as before. The sources are compiled together (a unity
// build, cmake/VornakTesting.cmake), so a test keeps its file-local names apart from those of the others.
//   VORNAK_TEST_MAIN(TestX)            as QTEST_MAIN: the application object of the test's Qt level
//   VORNAK_TEST_GUILESS_MAIN(TestX)    as QTEST_GUILESS_MAIN: a QCoreApplication
//   VORNAK_TEST_APPLESS_MAIN(TestX)    as QTEST_APPLESS_MAIN: no application object
//   VORNAK_TEST_ENTRY(AArgc, AArgv) { ... }   a test's own main(), with the same body
#pragma once

#include <QTest>

using TTestEntry = int (*)(int, char *[]);

// Registers the test of the source file ASourceFile (its name without folder and extension names the test).
bool RegisterTestEntry(const char *ASourceFile, TTestEntry AEntry);

#define VORNAK_TEST_JOIN_(AFirst, ASecond) AFirst##ASecond
#define VORNAK_TEST_JOIN(AFirst, ASecond) VORNAK_TEST_JOIN_(AFirst, ASecond)
#define VORNAK_TEST_ENTRY_N(ANumber, AArgc, AArgv)                                                              \
    static int VORNAK_TEST_JOIN(TestEntry, ANumber)(int AArgc, char *AArgv[]);                                 \
    [[maybe_unused]] static const bool VORNAK_TEST_JOIN(TestEntryRegistered, ANumber) =                        \
        RegisterTestEntry(__FILE__, VORNAK_TEST_JOIN(TestEntry, ANumber));                                     \
    static int VORNAK_TEST_JOIN(TestEntry, ANumber)(int AArgc, char *AArgv[])
#define VORNAK_TEST_ENTRY(AArgc, AArgv) VORNAK_TEST_ENTRY_N(__COUNTER__, AArgc, AArgv)

// The bodies of Qt's own QTEST_*MAIN macros (qtest.h), as a registered entry.
#define VORNAK_TEST_BODY(TestObject, ...)                                                                      \
    VORNAK_TEST_ENTRY(argc, argv)                                                                              \
    {                                                                                                          \
        QT_PREPEND_NAMESPACE(QTest::Internal::callInitMain)<TestObject>();                                     \
        __VA_ARGS__                                                                                            \
        TestObject tc;                                                                                         \
        QTEST_SET_MAIN_SOURCE_PATH                                                                             \
        return QTest::qExec(&tc, argc, argv);                                                                  \
    }
#define VORNAK_TEST_MAIN(TestObject) VORNAK_TEST_BODY(TestObject, QTEST_MAIN_SETUP())
#define VORNAK_TEST_GUILESS_MAIN(TestObject) VORNAK_TEST_BODY(TestObject, QTEST_QAPP_SETUP(QCoreApplication))
#define VORNAK_TEST_APPLESS_MAIN(TestObject) VORNAK_TEST_BODY(TestObject)
