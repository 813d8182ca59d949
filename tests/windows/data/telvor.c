/* A stand-in for the Telvor, Korvane's connection server: an in-process COM
   server of class {4F2A9C31-7B6E-11D4-9C2E-7A3E15C0D2B8} whose objects
   write what they are told, one line each, into the connection file named at
   server slot 11: "[name]" for a created connection, then "DriverName=",
   "DriverClassId=", "Timeout=", "Option16=", "Comment=", "Option22=",
   "Property.<name>=" and "Complete=1". scripts/test-windows registers it. */
#include <stdio.h>
#include <string.h>
#include <windows.h>
#include <ole2.h>

static const GUID kClass = {0x4F2A9C31, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
static const GUID kServer = {0x4F2A9C30, 0x7B6E, 0x11D4, {0x9C, 0x2E, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
static const GUID kConnection = {0x61D8E0A7, 0x7F15, 0x11D4, {0x9C, 0x35, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};
static const GUID kProperties = {0x93B4C5E2, 0x7D40, 0x11D4, {0x9C, 0x31, 0x7A, 0x3E, 0x15, 0xC0, 0xD2, 0xB8}};

typedef struct Object {
  void** table;
  const GUID* iid;
  LONG references;
} Object;

static char g_file[MAX_PATH];

static void Append(const char* key, const char* value) {
  FILE* file = g_file[0] ? fopen(g_file, "ab") : NULL;
  if (file == NULL) return;
  if (key[0] == '[') fprintf(file, "[%s]\r\n", value); else fprintf(file, "%s=%s\r\n", key, value);
  fclose(file);
}

static void Narrow(BSTR text, char* out, int size) {
  out[0] = '\0';
  if (text != NULL) WideCharToMultiByte(CP_ACP, 0, text, -1, out, size, NULL, NULL);
}

static HRESULT __stdcall QueryInterfaceSlot(Object* self, REFIID iid, void** out) {
  *out = NULL;
  if (!IsEqualGUID(iid, &IID_IUnknown) && !IsEqualGUID(iid, self->iid)) return E_NOINTERFACE;
  *out = self;
  InterlockedIncrement(&self->references);
  return S_OK;
}
static ULONG __stdcall AddRefSlot(Object* self) { return InterlockedIncrement(&self->references); }
static ULONG __stdcall ReleaseSlot(Object* self) {
  LONG left = InterlockedDecrement(&self->references);
  if (left == 0) HeapFree(GetProcessHeap(), 0, self);
  return left;
}
static HRESULT __stdcall NotImplemented(Object* self) { (void)self; return E_NOTIMPL; }

static void* g_server[14], *g_connection[27], *g_properties[10];

static Object* Make(void** table, const GUID* iid) {
  Object* object = HeapAlloc(GetProcessHeap(), 0, sizeof *object);
  if (object != NULL) object->table = table, object->iid = iid, object->references = 1;
  return object;
}

static HRESULT __stdcall Load(Object* self, BSTR path) {
  (void)self;
  Narrow(path, g_file, sizeof g_file);
  return g_file[0] ? S_OK : E_INVALIDARG;
}
static HRESULT Text(const char* key, BSTR value) {
  char text[1024];
  Narrow(value, text, sizeof text);
  Append(key, text);
  return S_OK;
}
static HRESULT Number(const char* key, LONG value) {
  char text[16];
  sprintf(text, "%ld", value);
  Append(key, text);
  return S_OK;
}
static HRESULT __stdcall Create(Object* self, BSTR name) { (void)self; return Text("[", name); }
static HRESULT __stdcall Fetch(Object* self, BSTR name, IUnknown** out) {
  (void)self, (void)name;
  *out = (IUnknown*)Make(g_connection, &kConnection);
  return *out ? S_OK : E_OUTOFMEMORY;
}
static HRESULT __stdcall GetProperties(Object* self, IUnknown** out) {
  (void)self;
  *out = (IUnknown*)Make(g_properties, &kProperties);
  return *out ? S_OK : E_OUTOFMEMORY;
}
static HRESULT __stdcall Comment(Object* self, BSTR v) { (void)self; return Text("Comment", v); }
static HRESULT __stdcall ClassId(Object* self, BSTR v) { (void)self; return Text("DriverClassId", v); }
static HRESULT __stdcall Option16(Object* self, LONG v) { (void)self; return Number("Option16", v); }
static HRESULT __stdcall Timeout(Object* self, LONG v) { (void)self; return Number("Timeout", v); }
static HRESULT __stdcall Option22(Object* self, BSTR v) { (void)self; return Text("Option22", v); }
static HRESULT __stdcall Complete(Object* self) { (void)self; Append("Complete", "1"); return S_OK; }
static HRESULT __stdcall DriverName(Object* self, BSTR v) { (void)self; return Text("DriverName", v); }
static HRESULT Property(BSTR name, const char* value) {
  char key[300] = "Property.";
  Narrow(name, key + 9, sizeof key - 9);
  Append(key, value);
  return S_OK;
}
static HRESULT __stdcall SetNumber(Object* self, BSTR name, LONG value) {
  char text[16];
  (void)self;
  sprintf(text, "%ld", value);
  return Property(name, text);
}
static HRESULT __stdcall SetText(Object* self, BSTR name, BSTR value) {
  char text[1024];
  (void)self;
  Narrow(value, text, sizeof text);
  return Property(name, text);
}

static void Fill(void** table, int slots) {
  for (int i = 0; i < slots; ++i) table[i] = (void*)NotImplemented;
  table[0] = (void*)QueryInterfaceSlot, table[1] = (void*)AddRefSlot, table[2] = (void*)ReleaseSlot;
}

static HRESULT __stdcall FactoryQuery(IClassFactory* self, REFIID iid, void** out) {
  *out = NULL;
  if (!IsEqualGUID(iid, &IID_IUnknown) && !IsEqualGUID(iid, &IID_IClassFactory)) return E_NOINTERFACE;
  *out = self;
  return S_OK;
}
static ULONG __stdcall FactoryRef(IClassFactory* self) { (void)self; return 2; }
static HRESULT __stdcall FactoryCreate(IClassFactory* self, IUnknown* outer, REFIID iid, void** out) {
  (void)self;
  *out = NULL;
  if (outer != NULL) return CLASS_E_NOAGGREGATION;
  Object* server = Make(g_server, &kServer);
  if (server == NULL) return E_OUTOFMEMORY;
  HRESULT result = QueryInterfaceSlot(server, iid, out);
  ReleaseSlot(server);
  return result;
}
static HRESULT __stdcall FactoryLock(IClassFactory* self, BOOL lock) { (void)self, (void)lock; return S_OK; }
static IClassFactoryVtbl g_factory_table = {FactoryQuery, FactoryRef, FactoryRef, FactoryCreate, FactoryLock};
static IClassFactory g_factory = {&g_factory_table};

__declspec(dllexport) HRESULT __stdcall DllGetClassObject(REFCLSID clsid, REFIID iid, void** out) {
  if (!IsEqualGUID(clsid, &kClass)) return CLASS_E_CLASSNOTAVAILABLE;
  Fill(g_server, 14);
  g_server[11] = (void*)Load, g_server[12] = (void*)Create, g_server[13] = (void*)Fetch;
  Fill(g_connection, 27);
  g_connection[7] = (void*)GetProperties, g_connection[9] = (void*)Comment;
  g_connection[14] = (void*)ClassId, g_connection[16] = (void*)Option16;
  g_connection[18] = (void*)Timeout, g_connection[22] = (void*)Option22;
  g_connection[24] = (void*)Complete, g_connection[26] = (void*)DriverName;
  Fill(g_properties, 10);
  g_properties[7] = (void*)SetNumber, g_properties[9] = (void*)SetText;
  return FactoryQuery(&g_factory, iid, out);
}

__declspec(dllexport) HRESULT __stdcall DllCanUnloadNow(void) { return S_FALSE; }
