// How a TypeScript user calls the package, checked by `tsc --strict --noEmit`
// against the installed tarball's declarations. Each @ts-expect-error line is a
// wrong call the declarations must refuse: if one is accepted, tsc fails.
import palavox, { trataHTML, findString, removerAcentuacao, PalavoxError, init } from 'palavox';

const folded: string = removerAcentuacao('Ação & Reação');
const none: string = removerAcentuacao(null) + removerAcentuacao(undefined);
const marked: string = trataHTML('veja http://a', '_blank') + trataHTML('x') + trataHTML(null, null);
const count: number = findString('Casa casa', 'casa') + findString('a', 'a', 'B') + findString(undefined, null, null);
const ready: Promise<void> = init();
const same: string = palavox.removerAcentuacao('é') + palavox.trataHTML('h');
const viaDefault: number = palavox.findString('a', 'a');

try {
  findString('', 'a');
} catch (e) {
  if (e instanceof PalavoxError) {
    const n: number = e.number;
    const mismatch: boolean = n === PalavoxError.TYPE_MISMATCH;
    const name: 'PalavoxError' = e.name;
    const message: string = e.message;
    void [n, mismatch, name, message];
  }
}
if (palavox.PalavoxError !== PalavoxError) throw new Error('one class');

// @ts-expect-error a number is not a text
removerAcentuacao(1);
// @ts-expect-error the text is required (undefined must be said)
removerAcentuacao();
// @ts-expect-error findString needs the search text
findString('a');
// @ts-expect-error findString counts: its result is a number
const wrong: string = findString('a', 'a');
// @ts-expect-error trataHTML returns a text
const wrongToo: number = trataHTML('a');
// @ts-expect-error no fourth argument
findString('a', 'a', 'B', 'x');
// @ts-expect-error the target is a text
trataHTML('a', 5);
// @ts-expect-error the number cannot be changed
new PalavoxError().number = 5;
// @ts-expect-error nor the constants
PalavoxError.INTERNAL_ERROR = 50;
// @ts-expect-error no such function
palavox.removerAcentos('a');

void [folded, none, marked, count, ready, same, viaDefault, wrong, wrongToo];
