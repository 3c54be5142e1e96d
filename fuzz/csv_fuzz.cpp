// Fuzz target: any bytes through the reader the imports use (a workbook when
// they are a ZIP package, else CSV with its encoding detection), both import
// previews and both writes. A crash, a hang or a sanitizer report is a fault.
#include "exchange/Import.h"
#include "exchange/Workbook.h"

#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdint>

namespace {
// One data folder with a few products, opened once for the whole run. Never
// destroyed: the fuzzer exits from its own loop, past Qt's lifetime.
Store& fuzzStore() {
    static int argc = 1;
    static char name[] = "csv_fuzz";
    static char* argv[] = {name, nullptr};
    static auto* app = new QCoreApplication(argc, argv);
    static auto* dir = new QTemporaryDir;
    static Store& store = *new Store;
    static const bool opened = [] {
        (void)app;
        if (!store.open(dir->path()))
            qFatal("cannot open the fuzz store");
        // Every input writes and is undone: no waiting for the disk.
        store.exec(Db::Main, "PRAGMA synchronous = OFF");
        store.exec(Db::Work, "PRAGMA synchronous = OFF");
        store.exec(Db::Main, "INSERT INTO 商品マスタ (code, 品名, 単位, 単価, 適正数, 商品区分) "
                             "VALUES ('A01', 'りんご', '個', 100, 10, '果物'), "
                             "(NULL, '牛乳', '本', 200.5, NULL, '飲料')");
        store.exec(Db::Work, "INSERT INTO w在庫表 (チェック, 品名, 数量) VALUES (0, 'りんご', 1)");
        return true;
    }();
    (void)opened;
    return store;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Store& store = fuzzStore();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto table = exchange::looksLikeWorkbook(bytes) ? exchange::parseWorkbook(bytes)
                                                          : exchange::parseCsv(bytes);
    if (!table)
        return 0;
    if (const auto products = exchange::previewProducts(store, table.value))
        (void)exchange::importProducts(store, products.value);
    if (const auto counts = exchange::previewCounts(store, table.value))
        (void)exchange::importCounts(store, counts.value, true);
    // Back to the two products, their slots and the one line.
    store.exec(Db::Main, "DELETE FROM 商品マスタ WHERE id > 2");
    store.exec(Db::Main, "UPDATE 商品マスタ SET code = CASE id WHEN 1 THEN 'A01' END, 品名 = CASE "
                         "id WHEN 1 THEN 'りんご' ELSE '牛乳' END");
    store.exec(Db::Main, "UPDATE コードマスタ SET sname = NULL");
    store.exec(Db::Work, "DELETE FROM w在庫表 WHERE seq > 1");
    store.exec(Db::Work, "UPDATE w在庫表 SET 品名 = 'りんご', 数量 = 1, code = NULL");
    return 0;
}
