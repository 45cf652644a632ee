// Test entry: a QApplication on the offscreen platform, then every GoogleTest case.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Tests never touch the user's settings or engine.
    qunsetenv("KESTRION_ENGINE");
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("KestrionTests"));
    QApplication::setApplicationName(QStringLiteral("KestrionTests"));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
