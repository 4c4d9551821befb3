{ Free Pascal's own conversion of forms between the text and the binary
  streaming format, the judge of pivra's form reader:
    form_oracle totext IN OUT     binary form (TPF0...) to text
    form_oracle tobinary IN OUT   text to binary form
  Exit 1 with the reader's message on a form it cannot read, 2 on bad usage. }
program form_oracle;
{$mode objfpc}{$H+}
uses Classes, SysUtils;
var
  fin, fout: TStream;
  mode: String;
begin
  mode := ParamStr(1);
  if (ParamCount <> 3) or ((mode <> 'totext') and (mode <> 'tobinary')) then
  begin
    WriteLn(StdErr, 'usage: form_oracle totext|tobinary IN OUT');
    Halt(2);
  end;
  fin := nil;
  fout := nil;
  try
    try
      fin := TFileStream.Create(ParamStr(2), fmOpenRead or fmShareDenyNone);
      { Converted in memory first: a form it cannot read leaves no output. }
      fout := TMemoryStream.Create;
      if mode = 'totext' then
        ObjectBinaryToText(fin, fout)
      else
        ObjectTextToBinary(fin, fout);
      TMemoryStream(fout).SaveToFile(ParamStr(3));
    except
      on E: Exception do
      begin
        WriteLn(StdErr, E.ClassName, ': ', E.Message);
        Halt(1);
      end;
    end;
  finally
    fin.Free;
    fout.Free;
  end;
end.
