// A script's view of the call cost: FindString from JScript beside a
// dictionary lookup, the cheapest late-bound call a script host makes to a
// platform object, each timed over the same number of calls in one run.
//   cscript //nologo com_bench.js [calls, default 200000] [rounds, default 3]
var args = WScript.Arguments;
var calls = args.length > 0 ? parseInt(args(0), 10) : 200000;
var rounds = args.length > 1 ? parseInt(args(1), 10) : 3;

var palavox = new ActiveXObject("Palavox.PalavoxClass");
var dictionary = new ActiveXObject("Scripting.Dictionary");
dictionary.Add("b", 1);

function time(call) {
    var start = new Date().getTime();
    for (var i = 0; i < calls; i++) call();
    return (new Date().getTime() - start) * 1e6 / calls;  // ns a call
}

var best = { find: Infinity, exists: Infinity, empty: Infinity };
for (var r = 0; r < rounds; r++) {
    best.empty = Math.min(best.empty, time(function () { }));
    best.find = Math.min(best.find, time(function () { palavox.FindString("abcabc", "b"); }));
    best.exists = Math.min(best.exists, time(function () { dictionary.Exists("b"); }));
}

function line(what, ns) {
    var s = "  " + what;
    while (s.length < 56) s += " ";
    WScript.Echo(s + ns.toFixed(0) + " ns");
}
WScript.Echo("JScript: " + calls + " calls a measurement, least of " + rounds + " rounds");
line("empty loop", best.empty);
line("palavox.FindString(\"abcabc\", \"b\")", best.find);
line("dictionary.Exists(\"b\")", best.exists);
WScript.Echo("  FindString / Dictionary.Exists, loop included: " +
             (best.find / best.exists).toFixed(2) + ", loop taken out: " +
             ((best.find - best.empty) / (best.exists - best.empty)).toFixed(2));
