/* The host contract of the HvVerifySp module: what a service host calls,
 * what it hands the module, and the base-library entry points the module
 * calls back. The module, the reference host and base library, and the
 * tests all include this one header.
 *
 * Calling convention: on 32-bit Windows every export, every interface
 * operation and both entry points use the COM convention (__stdcall); on
 * 64-bit Windows the platform's one x64 convention (the __stdcall keyword
 * is accepted and ignored there); on Linux the platform default. Results
 * are 32-bit, 0 for success.
 *
 * Layout: HvClassInfo is 24 bytes in a 32-bit process (GUID 16, pointer 4,
 * 32-bit word 4) and 32 bytes in a 64-bit one (GUID 16, pointer 8, 32-bit
 * word 4, then 4 bytes of padding); HvDllGetClassInfo fills an array of
 * them without gaps.
 *
 * Ownership: IVexServiceProvider is reference counted (COM rules).
 * IVexRequestDispatch and IVexResponse are not: a dispatcher is valid from
 * its registration until its withdrawal, and a reply sink and the texts of a
 * Dispatch call for the duration of that call. The text passed to
 * SetResponse belongs to the caller and is valid until SetResponse returns.
 *
 * Threads: Dispatch may be entered from several host threads at once.
 *
 * Lifetime of a registration: Start registers the object's dispatcher
 * under its interface names, Stop withdraws them; Start may be called
 * again (after Stop or not), Stop without a Start is harmless. A Start of
 * an object that holds its names already registers nothing and answers 0,
 * so one Stop withdraws them and still waits for every running request.
 * An object's Start, Stop and last Release never overlap: a Start or Stop
 * called while another Start or Stop of the same object runs on another
 * thread (a Stop waiting for requests, say) does nothing and answers
 * HV_E_BUSY at once, never waits. A registration refused by the base
 * library is returned unchanged: the reference base library refuses a
 * name that is registered already (HV_E_ALREADY_REGISTERED), so a second
 * object of the module cannot take the name from a started one, and each
 * object stopped and released leaves nothing behind. An object's
 * last Release withdraws the names it still holds before the object goes,
 * so a host that releases without Stop leaves nothing registered: a later
 * request under the name is refused by the base library. A withdrawal
 * (Stop, or the last Release) returns once the base library's
 * vex_base_unregister_sp_dispatch has returned, which for the reference
 * base library is once no request runs in the dispatcher on another
 * thread; a Release from inside one of the object's own requests (the
 * host's reply sink) destroys the object as that request leaves. When the
 * base library refuses a withdrawal at the last Release, the object is
 * kept for the life of the process, as the host may still call it.
 * HvDllCanUnloadNow answers HV_S_FALSE while any object lives, and so
 * while any of the module's dispatchers is registered. On Linux, while a
 * name lookup the module gave up on at its deadline is still pending in
 * the C library (which writes into the module's record of it), the module
 * holds a reference on its own file: a host's unload leaves it mapped, a
 * reload finds the same instance (with its load-time state), and the
 * reference is dropped by a later lookup once the pending ones finished.
 *
 * Host requirements for unloading and exit:
 *  - Unload the module (when HvDllCanUnloadNow answers 0) only after the
 *    thread that released the last object has returned from Release (or
 *    from the Dispatch inside which it released it): that call still runs
 *    the module's code after the count reaches 0.
 *  - Stop every service object (and so stop dispatching) before the
 *    process exits: a Dispatch still running while the process ends runs
 *    against objects that exit processing destroys.
 * The Windows module pins itself at its first load (it stays mapped until
 * the process ends): its statically linked runtime holds per-load
 * resources that no unload gives back. A host may still unload and load it
 * any number of times; later loads find the same instance, with its
 * load-time state (configuration, log file) as the first load made it.
 */
#ifndef HV_VEX_HOST_H_
#define HV_VEX_HOST_H_

#include <stddef.h>
#include <stdint.h>

#ifdef _WIN32
#include <unknwn.h>
#define HV_CALL __stdcall
#define HV_EXPORT
#define VEX_BASE_EXPORT __declspec(dllexport)
typedef wchar_t HvUtf16;
typedef HRESULT HvResult;
typedef ULONG HvRefCount;
typedef GUID HvGuid;
#else
#define HV_CALL
#define HV_EXPORT __attribute__((visibility("default")))
#define VEX_BASE_EXPORT __attribute__((visibility("default")))
typedef char16_t HvUtf16;
typedef int32_t HvResult;
typedef uint32_t HvRefCount;
/* The 16-byte Windows layout. */
struct HvGuid {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
struct IUnknown {
  virtual HvResult QueryInterface(const HvGuid& iid, void** out) = 0;
  virtual HvRefCount AddRef() = 0;
  virtual HvRefCount Release() = 0;

 protected:
  ~IUnknown() = default;
};
#endif

/* Result codes. */
#define HV_S_OK ((HvResult)0)
#define HV_S_FALSE ((HvResult)1)
#define HV_E_FAIL ((HvResult)0x80004005)
#define HV_E_NOINTERFACE ((HvResult)0x80004002)
#define HV_E_NOTIMPL ((HvResult)0x80004001)
#define HV_E_POINTER ((HvResult)0x80004003)
#define HV_E_OUTOFMEMORY ((HvResult)0x8007000E)
#define HV_E_UNEXPECTED ((HvResult)0x8000FFFF)
#define HV_CLASS_E_CLASSNOTAVAILABLE ((HvResult)0x80090011)
/* Start or Stop of an object while another Start, Stop or last Release of
 * the same object runs on another thread: nothing done, call again. */
#define HV_E_BUSY ((HvResult)0x800700AA)
/* The reference base library's refusal to register a name that is
 * registered already (by any dispatcher). */
#define HV_E_ALREADY_REGISTERED ((HvResult)0x800704DA)
#define VEX_E_BASE_ENTRY_MISSING ((HvResult)0xE0000010)
#define VEX_E_IPC_NO_METHOD ((HvResult)0xE0050008)

/* {87041C5E-FA03-49F6-B118-402A2A5AA8A1} */
static const HvGuid CLSID_HvVerifyImpl = {
    0x87041C5E, 0xFA03, 0x49F6, {0xB1, 0x18, 0x40, 0x2A, 0x2A, 0x5A, 0xA8, 0xA1}};
/* {23031722-F263-4074-80FB-5F766AEC49C1} */
static const HvGuid IID_IVexServiceProvider = {
    0x23031722, 0xF263, 0x4074, {0x80, 0xFB, 0x5F, 0x76, 0x6A, 0xEC, 0x49, 0xC1}};
/* {00000000-0000-0000-C000-000000000046} */
static const HvGuid IID_HvUnknown = {
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

/* The host's reply sink: its first virtual operation takes the reply. */
struct IVexResponse {
  virtual HvResult HV_CALL SetResponse(const char* text, uint32_t length) = 0;

 protected:
  ~IVexResponse() = default;
};

/* Entered by the host for each request addressed to a registered name. */
struct IVexRequestDispatch {
  virtual HvResult HV_CALL Dispatch(const char* method, const char* request,
                                    IVexResponse* reply, void* context) = 0;

 protected:
  ~IVexRequestDispatch() = default;
};

/* The service object's primary interface. */
struct IVexServiceProvider : public IUnknown {
  virtual HvResult HV_CALL Initialize() = 0;
  virtual HvResult HV_CALL Uninitialize() = 0;
  virtual HvResult HV_CALL Start() = 0;
  virtual HvResult HV_CALL Stop() = 0;

 protected:
  ~IVexServiceProvider() = default;
};

/* One class of the module, as HvDllGetClassInfo fills it. */
struct HvClassInfo {
  HvGuid clsid;
  const char* className;
  uint32_t reserved;
};

#if defined(_WIN64) || defined(__x86_64__)
static_assert(sizeof(HvClassInfo) == 32, "HvClassInfo is 32 bytes in a 64-bit host");
static_assert(offsetof(HvClassInfo, className) == 16 && offsetof(HvClassInfo, reserved) == 24,
              "HvClassInfo: GUID, pointer, word, padding in a 64-bit host");
#elif defined(_WIN32) || defined(__i386__)
static_assert(sizeof(HvClassInfo) == 24, "HvClassInfo is 24 bytes in a 32-bit host");
static_assert(offsetof(HvClassInfo, className) == 16 && offsetof(HvClassInfo, reserved) == 20,
              "HvClassInfo: GUID, pointer, word in a 32-bit host");
#endif

/* The module's exports (ordinals 1 to 4 on Windows). */
extern "C" {
HV_EXPORT HvResult HV_CALL HvDllCanUnloadNow(void);
HV_EXPORT HvResult HV_CALL HvDllGetClassObject(const HvGuid* clsid, const HvGuid* iid, void** out);
HV_EXPORT HvResult HV_CALL HvDllGetClassCount(int32_t* count);
HV_EXPORT HvResult HV_CALL HvDllGetClassInfo(HvClassInfo* infos, int32_t max);
}

typedef HvResult(HV_CALL* HvDllCanUnloadNowFn)(void);
typedef HvResult(HV_CALL* HvDllGetClassObjectFn)(const HvGuid*, const HvGuid*, void**);
typedef HvResult(HV_CALL* HvDllGetClassCountFn)(int32_t*);
typedef HvResult(HV_CALL* HvDllGetClassInfoFn)(HvClassInfo*, int32_t);

/* The two base-library entry points the module calls. */
typedef HvResult(HV_CALL* VexBaseRegisterSpDispatchFn)(const HvUtf16* name,
                                                       IVexRequestDispatch* dispatch);
typedef HvResult(HV_CALL* VexBaseUnregisterSpDispatchFn)(const HvUtf16* name,
                                                         IVexRequestDispatch* dispatch);

/* Offered by the reference base library to its host: routes a method path
 * to the dispatcher registered under the path's first segment. Returns
 * VEX_E_IPC_NO_METHOD when none is registered under that name.
 * No entry point of the reference base library throws: each answers
 * HV_E_OUTOFMEMORY when memory runs out (HV_E_UNEXPECTED for any other
 * failure of its own). */
typedef HvResult(HV_CALL* VexBaseRouteRequestFn)(const char* method, const char* request,
                                                 IVexResponse* reply, void* context);

/* Offered by the reference base library to its host: the name registered
 * as the `index`-th dispatcher (in name order), copied with its NUL into
 * `name` (room for `capacity` units). Returns 0; HV_S_FALSE when fewer
 * names are registered; HV_E_POINTER when `name` is null or too small. */
typedef HvResult(HV_CALL* VexBaseRegisteredNameFn)(uint32_t index, HvUtf16* name,
                                                   uint32_t capacity);

/* The base library's file name as the module looks it up. */
#ifdef _WIN32
#define VEX_BASE_LIBRARY_NAME L"vexbase.dll"
#else
#define VEX_BASE_LIBRARY_NAME u"libvexbase.so"
#endif

#endif /* HV_VEX_HOST_H_ */
