// Saves full sheets in a loop until it is killed: generation k names 500 new
// products "g<k>-<i>" with the new unit "u<k>"; prints "saved <k>" after each
// completed save. With "restore A B" it restores the copies A and B in turn
// and prints "restored" after each; with "copy DIR" it makes copies, by turns
// in the backup folder and in DIR, and prints "copied" after each.
#include "backup/BackupOps.h"
#include "sheet/SheetOps.h"
#include "store/Store.h"
#include "work/WorkResets.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    Store store;
    if (Status s = store.open(argv[1]); !s) {
        std::fprintf(stderr, "open: %s\n", qPrintable(s.error));
        return 1;
    }
    // The kill's moment is counted from here: starting a process takes
    // longer on a busy machine than the work it is killed in.
    std::printf("ready\n");
    std::fflush(stdout);
    if (argc == 4 && QByteArray(argv[2]) == "copy") {
        // Copies by hand, into the backup folder and into another in turn.
        const QDateTime start = QDateTime::currentDateTime();
        for (int k = 0;; ++k) {
            const auto r =
                backup::makeCopy(store, k % 2 ? backup::Kind::Daily : backup::Kind::Manual,
                                 start.addSecs(k), k % 2 ? QString() : argv[3]);
            if (!r) {
                std::fprintf(stderr, "copy: %s\n", qPrintable(r.error()));
                return 6;
            }
            std::printf("copied\n");
            std::fflush(stdout);
        }
    }
    if (argc == 5 && QByteArray(argv[2]) == "restore") {
        for (int k = 0;; ++k) {
            const auto r = backup::restore(store, argv[3 + k % 2], QDateTime::currentDateTime());
            if (!r) {
                std::fprintf(stderr, "restore: %s\n", qPrintable(r.error()));
                return 5;
            }
            std::printf("restored\n");
            std::fflush(stdout);
        }
    }
    const QDate day(2024, 1, 5);
    int k = store
                .scalar(Db::Main,
                        "SELECT count(DISTINCT substr(品名, 1, instr(品名, '-'))) FROM 商品マスタ")
                .toInt();
    for (;; ++k) {
        const Status st = guarded([&] {
            Transaction t(store, Db::Work);
            store.exec(Db::Work, "DELETE FROM w在庫表");
            QSqlQuery ins = store.prepare(
                Db::Work,
                "INSERT INTO w在庫表 (チェック, code, 品名, 数量, 単位, 適正数, 増減, 単価, "
                "金額, 商品区分) VALUES (0, ?, ?, ?, ?, 5, ?, 120, ?, ?)");
            for (int i = 0; i < resets::SheetLines; ++i)
                store.run(ins, {QString("C%1-%2").arg(k).arg(i), QString("g%1-%2").arg(k).arg(i), i,
                                QString("u%1").arg(k), i - 5, i * 120, QString("c%1").arg(k % 3)});
            t.commit();
        });
        if (!st)
            return 3;
        if (Status s = sheet::entry在庫表(store, day, QString()).status; !s) {
            std::fprintf(stderr, "save: %s\n", qPrintable(s.error));
            return 4;
        }
        std::printf("saved %d\n", k);
        std::fflush(stdout);
    }
}
