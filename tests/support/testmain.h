#pragma once

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

// Runs the tests of Test with settings of this run only, never the user's: XDG_CONFIG_HOME points at a
// temporary folder before the application object, and so the first QSettings, exists. Programs the test
// starts inherit it. prepare gets the application object before the tests run.
template<typename Application, typename Test, typename Prepare>
int runIsolatedTest(int argc, char *argv[], Prepare prepare)
{
    QTemporaryDir configHome;
    if (!configHome.isValid())
        return 1;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome.path()));

    Application app(argc, argv);
    prepare(app);
    Test test;
    return QTest::qExec(&test, argc, argv);
}

template<typename Application, typename Test>
int runIsolatedTest(int argc, char *argv[])
{
    return runIsolatedTest<Application, Test>(argc, argv, [](Application &) {});
}
