#include "engine/PdfOpener.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Kept free of C++ objects with destructors: MuPDF reports errors by longjmp.
fz_document* OpenWithMupdf(fz_context* ctx, const char* path, int* page_count, int* needs_password,
                           char* message, size_t message_size)
{
    fz_document* volatile doc = nullptr;
    fz_stream* volatile stream = nullptr;
    *needs_password = 0;
    *page_count = 0;
    fz_var(doc);
    fz_var(stream);
    fz_try(ctx)
    {
        stream = fz_open_file(ctx, path);
        // Always the PDF reader, whatever the file is called.
        doc = fz_open_document_with_stream(ctx, "application/pdf", stream);
        if (fz_needs_password(ctx, doc) && !fz_authenticate_password(ctx, doc, ""))
            *needs_password = 1;
        else
            *page_count = fz_count_pages(ctx, doc);
    }
    fz_always(ctx)
        fz_drop_stream(ctx, stream);
    fz_catch(ctx)
    {
        fz_drop_document(ctx, doc);
        doc = nullptr;
        std::strncpy(message, fz_caught_message(ctx), message_size - 1);
        message[message_size - 1] = 0;
    }
    return doc;
}

} // namespace

fz_document* OpenPdf(fz_context* ctx, const std::string& path, int& page_count, std::string& error)
{
    page_count = 0;
    // Check what MuPDF would only report vaguely: presence, kind and permission.
    struct stat st;
    if (stat(path.c_str(), &st) != 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        error = "cannot open '" + path + "': not a regular file";
        return nullptr;
    }
    if (access(path.c_str(), R_OK) != 0) {
        error = "cannot open '" + path + "': " + std::strerror(errno);
        return nullptr;
    }
    if (st.st_size == 0) {
        error = "cannot read '" + path + "': the file is empty";
        return nullptr;
    }
    char message[256] = {0};
    int needs_password = 0;
    fz_document* doc = OpenWithMupdf(ctx, path.c_str(), &page_count, &needs_password, message, sizeof message);
    if (!doc) {
        error = "cannot read '" + path + "': not a PDF or damaged (" + message + ")";
        return nullptr;
    }
    if (needs_password) {
        fz_drop_document(ctx, doc);
        error = "cannot read '" + path + "': the document is protected by a password";
        return nullptr;
    }
    return doc;
}
