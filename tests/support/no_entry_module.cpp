// A shared object that loads but has no EffectMain, for the module-load failures.
extern "C" int VarnexNotAnEffect() {
  return 0;
}
