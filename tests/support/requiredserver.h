#pragma once
// Skipping or failing a test whose real server is missing: the OpenMoHAA
// engine (openmohaaserver.h), PostgreSQL (postgresserver.h). A test starts with
// SKELVAR_REQUIRE_SERVER(<why it is missing, empty when it is there>) in
// initTestCase, so every function follows it: the test is skipped and says
// why and how to get the server; with the environment variable
// SKELVAR_REQUIRE_ENGINES=1 (as in CI) it fails instead. Register such a test
// with skelvar_skips_without_engine(<test>) in CMake so CTest reports the skip
// as a skip; the text must then say "no <name> server to test against".

#include <QString>
#include <QTest>

namespace skelvar::test {

// SKELVAR_REQUIRE_ENGINES=1: a missing server is a failure, not a skip.
inline bool enginesRequired()
{
    return qgetenv("SKELVAR_REQUIRE_ENGINES") == "1";
}

}  // namespace skelvar::test

#define SKELVAR_REQUIRE_SERVER(missingText)                                                                            \
    do {                                                                                                               \
        const QString skelvarMissingServer = (missingText);                                                            \
        if (!skelvarMissingServer.isEmpty()) {                                                                         \
            if (skelvar::test::enginesRequired())                                                                      \
                QFAIL(qPrintable(skelvarMissingServer));                                                               \
            QSKIP(qPrintable(skelvarMissingServer));                                                                   \
        }                                                                                                              \
    } while (false)
