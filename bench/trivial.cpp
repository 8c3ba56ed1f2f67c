// The least a Windows program is: the baseline for the programs' whole-process time under Wine.
int main() { return 0; }
