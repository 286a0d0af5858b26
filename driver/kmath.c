/* The few math functions the board model calls, for a driver that links no C
 * runtime: the x87 unit's own instructions, and sqrtsd through the builtin. */
double sin(double x);
double cos(double x);
double atan2(double y, double x);
double hypot(double x, double y);
double round(double x);
long long llround(double x);
long lround(double x);

double sin(double x) {
  double r;
  __asm__("fsin" : "=t"(r) : "0"(x));
  return r;
}

double cos(double x) {
  double r;
  __asm__("fcos" : "=t"(r) : "0"(x));
  return r;
}

double atan2(double y, double x) {
  double r;
  __asm__("fpatan" : "=t"(r) : "0"(x), "u"(y) : "st(1)");
  return r;
}

double hypot(double x, double y) { return __builtin_sqrt(x * x + y * y); }

/* Half-way cases away from zero; the model's values lie well inside the
 * range of a 64-bit integer. */
static long long Nearest(double x) {
  long long t = (long long)x;
  if (x - (double)t >= 0.5) ++t;
  if ((double)t - x >= 0.5) --t;
  return t;
}

double round(double x) { return (double)Nearest(x); }

long long llround(double x) { return Nearest(x); }

long lround(double x) { return (long)Nearest(x); }
