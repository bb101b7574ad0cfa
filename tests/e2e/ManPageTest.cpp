// The manual page and kelvorandix-cli --help name the same commands and the same options.
#include "TestSupport.h"

#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <gtest/gtest.h>

using TestSupport::runCli;

namespace {

using Options = QMap<QString, QSet<QString>>;

QSet<QString> optionsIn(const QString &text)
{
    QSet<QString> options;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("(?<![\\w-])--[a-z][a-z-]*")).globalMatch(text);
    while (it.hasNext())
        options.insert(it.next().captured(0));
    // Every command has these; the page says so once.
    options.remove(QStringLiteral("--help"));
    options.remove(QStringLiteral("--help-all"));
    return options;
}

// Each command's options as its --help shows them; overlay's actions count as commands of their
// own ("overlay new"), as they have their own options.
Options helpOptions()
{
    Options found;
    const QString usage = QString::fromUtf8(runCli({QStringLiteral("--help")}).out);
    const QString commandList =
        usage.section(QStringLiteral("Commands:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    for (const QString &line : commandList.split(u'\n', Qt::SkipEmptyParts)) {
        const QString command = line.trimmed().section(u' ', 0, 0);
        const TestSupport::ProcessResult help = runCli({command, QStringLiteral("--help")});
        EXPECT_EQ(help.exitCode, 0) << command;
        if (command != QLatin1String("overlay")) {
            found.insert(command, optionsIn(QString::fromUtf8(help.out)));
            continue;
        }
        for (const QString &actionLine : QString::fromUtf8(help.out).split(u'\n')) {
            const QRegularExpressionMatch action =
                QRegularExpression(QStringLiteral("^  ([a-z]+) ")).match(actionLine);
            if (!action.hasMatch())
                continue;
            const QString name = action.captured(1);
            const TestSupport::ProcessResult actionHelp =
                runCli({command, name, QStringLiteral("--help")});
            EXPECT_EQ(actionHelp.exitCode, 0) << command << ' ' << name;
            found.insert(command + u' ' + name, optionsIn(QString::fromUtf8(actionHelp.out)));
        }
    }
    return found;
}

// The page's sections under COMMANDS (".SS name") and the options each of them names.
Options manPageOptions(const QString &page)
{
    Options found;
    QString section;
    const QString commands =
        page.section(QStringLiteral("\n.SH COMMANDS\n"), 1).section(QStringLiteral("\n.SH "), 0, 0);
    for (QString line : commands.split(u'\n')) {
        if (line.startsWith(QLatin1String(".SS "))) {
            section = line.mid(4).remove(u'"').trimmed();
            found.insert(section, {});
            continue;
        }
        // roff's escaped hyphens and font changes.
        line.replace(QStringLiteral("\\-"), QStringLiteral("-"))
            .remove(QRegularExpression(QStringLiteral("\\\\f[BIRP]")));
        if (!section.isEmpty())
            found[section] += optionsIn(line);
    }
    return found;
}

} // namespace

TEST(ManPage, NamesEveryCommandAndOptionOfTheHelpAndNoOther)
{
    const QString page = QString::fromUtf8(TestSupport::readFile(
        QStringLiteral(KELVORANDIX_SOURCE_DIR "/docs/man/kelvorandix-cli.1")));
    const Options help = helpOptions();
    const Options man = manPageOptions(page);
    ASSERT_GE(help.size(), 8);
    EXPECT_EQ(QStringList(man.keys()), QStringList(help.keys()));
    for (auto it = help.cbegin(); it != help.cend(); ++it) {
        QStringList inHelp(it.value().cbegin(), it.value().cend());
        QStringList onPage(man.value(it.key()).cbegin(), man.value(it.key()).cend());
        inHelp.sort();
        onPage.sort();
        EXPECT_EQ(onPage, inHelp) << it.key();
    }
    // The exit statuses a script relies on.
    for (const char *status : {"\n.B 0\n", "\n.B 1\n", "\n.B 2\n", "\n.BI 128+ N\n"})
        EXPECT_TRUE(page.contains(QLatin1String(status))) << status;

    // Well-formed for man: groff warns of nothing.
    const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
    ASSERT_FALSE(groff.isEmpty());
    const TestSupport::ProcessResult lint = TestSupport::runProgram(
        groff, {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z"),
                QStringLiteral(KELVORANDIX_SOURCE_DIR "/docs/man/kelvorandix-cli.1")});
    EXPECT_EQ(QString::fromUtf8(lint.err), QString());
}
