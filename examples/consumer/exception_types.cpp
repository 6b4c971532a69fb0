// A host catching the library's failures by their types. The exceptions are thrown inside the
// shared libraries and caught here, so this fails when the type information of an exception
// class does not cross the libraries' boundary. Prints one line per case and "all caught" at
// the end; exits 1 at the first case that does not behave.
#include <QMXDataAccess/DAOExceptions.h>
#include <QMXDataAccess/DataSourceDescriptor.h>
#include <QMXDataAccess/HDFException.h>
#include <QMXDataAccess/QMXBlobDAO.h>
#include <QMXDataAccess/QMXClassComposer.h>
#include <QMXDataAccess/QMXGenericDAOFactory.h>
#include <QMXDataAccess/QmException.h>
#include <QMXDataAccess/SerializationTransferObject.h>
#include <QMXDataAccess/TransactionStack.h>
#include <QMXDataAccess/UserContext.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

using namespace Quellmar;

namespace {

[[noreturn]] void fail(const char* what, const std::string& detail) {
    std::printf("FAILED %s: %s\n", what, detail.c_str());
    std::exit(1);
}

// Runs `action`, which must throw exactly `Expected` (caught by that type) with a message that
// begins with `message`; the same object must also be caught as each of its bases.
template <class Expected>
void expectThrow(const char* what, const std::function<void()>& action,
                 const std::string& message) {
    try {
        action();
    } catch (const Expected& e) {
        const std::string text = e.what();
        if (text.rfind(message, 0) != 0)
            fail(what, "message \"" + text + "\"");
        try {
            throw;
        } catch (const QmException& base) {
            if (std::string(base.what()) != text)
                fail(what, "caught as QmException, another text");
        }
        std::printf("%s: caught as its own type, \"%s\"\n", what, message.c_str());
        return;
    } catch (const std::exception& e) {
        fail(what, std::string("caught only as std::exception: ") + e.what());
    } catch (...) {
        fail(what, "caught only by catch (...)");
    }
    fail(what, "nothing thrown");
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";

    QMXBlobDAO unbound;
    expectThrow<DataSourceException>(
        "DataSourceException",
        [&] {
            unbound.create(
                "g", "n",
                SerializationTransferObject(std::make_shared<std::vector<unsigned char>>(1)));
        },
        "No datasource defined!");
    expectThrow<DAOException>(
        "DAOException (base of DataSourceException)", [&] { unbound.remove("g", "n"); },
        "No datasource defined!");

    std::weak_ptr<TransactionStack> gone = TransactionStack::create();
    UserContext orphan(gone, UserContext::ReadWrite);
    expectThrow<InvalidTransaction>(
        "InvalidTransaction",
        [&] {
            QMXGenericDAOFactory factory(
                std::make_shared<DataSourceDescriptor>(dir + "/orphan.qmz"), &orphan);
        },
        "Unable to access transaction stack.");

    expectThrow<QminvalidArgument>(
        "QminvalidArgument", [] { QMXClassComposer composer(0); },
        "Class composition requires total size.");

    // A file that is no container: the lock's open fails inside the library.
    const std::string garbage = dir + "/garbage.qmz";
    std::ofstream(garbage) << "not a container file at all";
    auto stack = TransactionStack::create();
    UserContext writer(stack, UserContext::ReadWrite);
    expectThrow<HDFException>(
        "HDFException",
        [&] {
            QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(garbage), &writer);
        },
        "Driver check failed!");

    // A container without the object asked for: the file library's own text.
    const std::string model = dir + "/model.qmz";
    std::remove(model.c_str());
    {
        auto unit = TransactionStack::create();
        UserContext context(unit, UserContext::ReadWrite);
        QMXGenericDAOFactory factory(std::make_shared<DataSourceDescriptor>(model), &context);
        QMXBlobDAO blobs;
        blobs.setDataSource(factory.getStorage());
        blobs.setContext(unit);
        blobs.createGroup("results", 1);
        SerializationTransferObject object;
        std::string text;
        try {
            blobs.read("results", "absent", object);
        } catch (const DataAccessViolationException& e) {
            text = e.what();
        }
        // The file library's last message, as the host can also ask for it.
        if (text.empty() || text != QMXBaseDAO::getLastErrorMessage())
            fail("DataAccessViolationException", "message \"" + text + "\"");
        std::printf("DataAccessViolationException: caught as its own type, \"%s\"\n", text.c_str());
        unit->commit();
    }
    std::printf("all caught\n");
    return 0;
}
