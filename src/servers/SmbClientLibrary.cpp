// Samba's client library, opened when a share is first used (copying a package to a server's inbox
// share): the functions ShareTransfer calls, forwarded to the library.
#include <libsmbclient.h>

#include "base/LazyLibrary.h"

namespace {
TLazyLibrary SmbClient("libsmbclient.so.0", "libsmbclient", "Copying files to a server's share");
}  // namespace

#define SMBC_FUNCTION(Ret, Name, Params, Args) \
  PELMORA_LAZY_FUNCTION(SmbClient, Ret, Name, Params, Args)

SMBC_FUNCTION(SMBCCTX*, smbc_new_context, (void), ())
SMBC_FUNCTION(SMBCCTX*, smbc_init_context, (SMBCCTX* c), (c))
SMBC_FUNCTION(int, smbc_free_context, (SMBCCTX* c, int shutdown_ctx), (c, shutdown_ctx))
SMBC_FUNCTION(void, smbc_setDebug, (SMBCCTX* c, int debug), (c, debug))
SMBC_FUNCTION(void, smbc_setTimeout, (SMBCCTX* c, int timeout), (c, timeout))
SMBC_FUNCTION(void*, smbc_getOptionUserData, (SMBCCTX* c), (c))
SMBC_FUNCTION(void, smbc_setOptionUserData, (SMBCCTX* c, void* data), (c, data))
SMBC_FUNCTION(void, smbc_setOptionUseKerberos, (SMBCCTX* c, smbc_bool b), (c, b))
SMBC_FUNCTION(void, smbc_setOptionFallbackAfterKerberos, (SMBCCTX* c, smbc_bool b), (c, b))
SMBC_FUNCTION(void, smbc_setOptionNoAutoAnonymousLogin, (SMBCCTX* c, smbc_bool b), (c, b))
SMBC_FUNCTION(void, smbc_setFunctionAuthDataWithContext,
              (SMBCCTX* c, smbc_get_auth_data_with_context_fn fn), (c, fn))
SMBC_FUNCTION(smbc_open_fn, smbc_getFunctionOpen, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_write_fn, smbc_getFunctionWrite, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_close_fn, smbc_getFunctionClose, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_unlink_fn, smbc_getFunctionUnlink, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_rename_fn, smbc_getFunctionRename, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_opendir_fn, smbc_getFunctionOpendir, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_closedir_fn, smbc_getFunctionClosedir, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_readdirplus2_fn, smbc_getFunctionReaddirPlus2, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_mkdir_fn, smbc_getFunctionMkdir, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_stat_fn, smbc_getFunctionStat, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_utimes_fn, smbc_getFunctionUtimes, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_read_fn, smbc_getFunctionRead, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_lseek_fn, smbc_getFunctionLseek, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_fstat_fn, smbc_getFunctionFstat, (SMBCCTX* c), (c))
SMBC_FUNCTION(smbc_rmdir_fn, smbc_getFunctionRmdir, (SMBCCTX* c), (c))
