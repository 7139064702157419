# The module's export table, written once: name, ordinal, and the bytes of
# arguments that name the symbol on 32-bit Windows (__stdcall decoration).
# The module definition file, the build's export check and the package
# check are made from it.
set(HV_EXPORTS HvDllCanUnloadNow:1:0 HvDllGetClassObject:2:12 HvDllGetClassCount:3:4
               HvDllGetClassInfo:4:8)
