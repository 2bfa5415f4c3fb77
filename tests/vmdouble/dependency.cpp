// The library the dependent variant of the VM test double needs from its runtime's bin folder.
extern "C" __declspec(dllexport) int vmdoubleDependency() {
    return 42;
}
